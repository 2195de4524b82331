// CAdminPassword's logic: the texts by language, and the check of a typed
// password against the stored MD5 digest. The window layers draw the dialog
// (template 130: caption, label, masked 20-character edit 1002, buttons 1 and 2)
// and call Check when button 1 is pressed.
#pragma once

#include <string>
#include <string_view>

#include "app/desktop/desktop.h"
#include "app/package/md5.h"

namespace zelk::app {

// The digest of the administrator password, as the program stores it.
inline constexpr char kStoredPasswordDigest[] = "3c9e1f7a0b52d8e4f6a17c0d9b2e4f83";
inline constexpr std::size_t kPasswordMaxLength = 20;

struct AdminPasswordTexts {
    std::u16string caption;
    std::u16string label;
    std::u16string enter;  // button 1
    std::u16string quit;   // button 2
    std::u16string wrongPassword;
};

class CAdminPassword {
  public:
    // `chinese` is the main dialog's ChineseUi; `storedDigest` is replaced in tests.
    CAdminPassword(Desktop& desktop, bool chinese,
                   std::string_view storedDigest = kStoredPasswordDigest);

    const AdminPasswordTexts& Texts() const { return texts_; }

    // Button 1: true when the password's digest matches (the dialog ends with
    // OK); otherwise shows the wrong-password message box and returns false
    // (the dialog stays open). Only the first 20 characters count, as the edit
    // takes no more.
    bool Check(std::u16string_view password);

  private:
    Desktop& desktop_;
    AdminPasswordTexts texts_;
    std::string storedDigest_;
};

}  // namespace zelk::app
