#include "image_list.h"

#include <memory>
#include <utility>

#include "image_files.h"

namespace zelk::cfu {

std::uint32_t ImageList::Start() {
    ++generation_;
    if (adding_) {
        return 8;
    }
    entries_.clear();
    adding_ = true;
    return 0;
}

std::uint32_t ImageList::Add(std::u16string_view offerPath, std::u16string_view payloadPath) {
    if (entries_.size() >= kMaxImages) {
        return 11;
    }
    auto entry = std::make_unique<engine::ImageEntry>();
    if (engine::ReadOfferFile(*entry, offerPath) != 0) {
        return 10;
    }
    if (engine::ReadPayloadFile(*entry, payloadPath) != 0) {
        return 10;
    }
    entries_.push_back(std::move(entry));
    return 0;
}

std::uint32_t ImageList::Stop() {
    if (!adding_) {
        return 9;
    }
    adding_ = false;
    return 0;
}

}  // namespace zelk::cfu
