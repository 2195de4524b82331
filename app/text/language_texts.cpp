#include "app/text/language_texts.h"

namespace zelk::app {
namespace {

bool IsChinese(std::uint32_t id) {
    return id == 1028 || id == 2052 || id == 3076 || id == 4100 || id == 5124;
}

}  // namespace

LanguageTexts ChooseLanguage(std::optional<std::uint32_t> languageId) {
    if (IsChinese(languageId.value_or(kEnglishLanguageId))) {
        return {u"开始升级",   u"管理配置",
                u"准备升级\n", u"升级中...\n",
                u"升级成功\n", u"升级正在进行，请等待完成\n",
                true};
    }
    return {u"Start",
            u"Admin",
            u"Ready to Update\n",
            u"In Progress...\n",
            u"Success\n",
            u"An update is already running; wait for it to finish\n",
            false};
}

}  // namespace zelk::app
