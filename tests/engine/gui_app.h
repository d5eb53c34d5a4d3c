#pragma once

#include <QGuiApplication>

namespace tarvo::engine::testing {

/// Makes sure a QGuiApplication exists (fonts and image plugins need one); it lives until exit.
inline void EnsureGuiApplication() {
  static int argc = 1;
  static char name[] = "engine_test";
  static char* argv[] = {name, nullptr};
  // Unit tests draw into images only; they need no display.
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM") && !qEnvironmentVariableIsSet("DISPLAY")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  static QGuiApplication* app =
      QGuiApplication::instance() ? nullptr : new QGuiApplication(argc, argv);
  (void)app;
}

}  // namespace tarvo::engine::testing
