#include "app/dialog/admin_password.h"

#include <cstdio>
#include <new>

namespace zelk::app {
namespace {

AdminPasswordTexts TextsFor(bool chinese) {
    if (chinese) {
        return {u"请输入管理员密码", u"管理员密码:", u"确定", u"取消", u"您输入的密码不正确！"};
    }
    return {u"Write down Admin Password", u"Password:", u"Enter", u"Quit", u"Wrong Password!"};
}

}  // namespace

CAdminPassword::CAdminPassword(Desktop& desktop, bool chinese, std::string_view storedDigest)
    : desktop_(desktop), texts_(TextsFor(chinese)), storedDigest_(storedDigest) {}

bool CAdminPassword::Check(std::u16string_view password) {
    // The digest is of the password in the code page the program has always
    // hashed it in, so the stored digest stays valid.
    bool matches = false;
    try {
        const std::string bytes = desktop_.ToAnsiBytes(password.substr(0, kPasswordMaxLength));
        matches = Md5Hex(bytes) == storedDigest_;
    } catch (const std::bad_alloc&) {
        // No digest text: the password cannot be checked, so it does not
        // match; the dialog stays open for another try.
        std::fputs("malloc failed.\n", stderr);
        std::fflush(stderr);
        return false;
    }
    if (matches) {
        return true;
    }
    desktop_.MessageBox(texts_.wrongPassword);
    return false;
}

}  // namespace zelk::app
