// The images of the next update, gathered between Start and Stop. Adding is
// not tied to the Start/Stop window: Add appends whenever the list has room,
// and the window only decides whether Start throws the old images away.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "engine/engine_environment.h"
#include "engine/update_error.h"

namespace zelk::cfu {

class ImageList {
  public:
    static constexpr std::size_t kMaxImages = 20;

    // Starts a new generation (accepted image tags are forgotten). Then
    // ImageListOpen when a Start is already open (the images stay); otherwise
    // drops every image and opens adding.
    engine::UpdateError Start();
    // ImageListFull when the list is full (no file is opened);
    // ImageFileUnusable when either file is refused (nothing is added); else
    // appends the image.
    engine::UpdateError Add(std::u16string_view offerPath, std::u16string_view payloadPath);
    // ImageListNotOpen when no Start is open; otherwise closes adding.
    engine::UpdateError Stop();

    const engine::ImageEntries& Entries() const { return entries_; }
    // Tells image lists apart; every Start, even a refused one, changes it.
    std::uint64_t Generation() const { return generation_; }
    bool Adding() const { return adding_; }
    std::size_t Count() const { return entries_.size(); }

  private:
    engine::ImageEntries entries_;
    bool adding_ = false;
    std::uint64_t generation_ = 0;
};

}  // namespace zelk::cfu
