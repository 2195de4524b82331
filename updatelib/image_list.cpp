#include "updatelib/image_list.h"

#include <memory>
#include <utility>

#include "engine/image_files.h"

namespace zelk::cfu {

engine::UpdateError ImageList::Start() {
    ++generation_;
    if (adding_) {
        return engine::UpdateError::ImageListOpen;
    }
    entries_.clear();
    adding_ = true;
    return engine::UpdateError::Success;
}

engine::UpdateError ImageList::Add(std::u16string_view offerPath, std::u16string_view payloadPath) {
    if (entries_.size() >= kMaxImages) {
        return engine::UpdateError::ImageListFull;
    }
    auto entry = std::make_unique<engine::ImageEntry>();
    if (engine::ReadOfferFile(*entry, offerPath) != 0) {
        return engine::UpdateError::ImageFileUnusable;
    }
    if (engine::ReadPayloadFile(*entry, payloadPath) != 0) {
        return engine::UpdateError::ImageFileUnusable;
    }
    entries_.push_back(std::move(entry));
    return engine::UpdateError::Success;
}

engine::UpdateError ImageList::Stop() {
    if (!adding_) {
        return engine::UpdateError::ImageListNotOpen;
    }
    adding_ = false;
    return engine::UpdateError::Success;
}

}  // namespace zelk::cfu
