// The images of the next update, gathered between Start and Stop. Adding is
// not tied to the Start/Stop window: Add appends whenever the list has room,
// and the window only decides whether Start throws the old images away.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "engine_environment.h"

namespace zelk::cfu {

class ImageList {
  public:
    static constexpr std::size_t kMaxImages = 20;

    // Empties the accepted image tags. Then 8 when a Start is already open
    // (the images stay); otherwise drops every image, opens adding, 0.
    std::uint32_t Start();
    // 11 when the list is full (no file is opened); 10 when either file is
    // refused (nothing is added); else appends the image, 0.
    std::uint32_t Add(std::u16string_view offerPath, std::u16string_view payloadPath);
    // 9 when no Start is open; otherwise closes adding, 0.
    std::uint32_t Stop();

    const engine::ImageEntries& Entries() const { return entries_; }
    std::vector<std::int32_t>& AcceptedImageTags() { return acceptedImageTags_; }
    bool Adding() const { return adding_; }
    std::size_t Count() const { return entries_.size(); }

  private:
    engine::ImageEntries entries_;
    bool adding_ = false;
    std::vector<std::int32_t> acceptedImageTags_;
};

}  // namespace zelk::cfu
