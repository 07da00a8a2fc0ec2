#include "gui/kit/Application.h"

#include <QLocale>

#include <sys/utsname.h>

#include <utility>

namespace pemra {

Application::Application(Session& s, AppOptions o) : session(s), options(std::move(o)) {
  const QString point = QLocale().decimalPoint();
  // A separator outside Latin-1 cannot go into the library's single-byte text; those
  // locales get the point.
  if (point.size() == 1 && point.at(0).unicode() < 0x80) {
    decimalSeparator_ = static_cast<char>(point.at(0).unicode());
  }
}

std::string PlatformName() {
  utsname name{};
  if (uname(&name) == 0 && name.sysname[0] != '\0') {
    return name.sysname;
  }
  return "Linux";
}

}  // namespace pemra
