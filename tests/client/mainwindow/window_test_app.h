#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <string>

#include "client/mainwindow/adventure_window.h"

namespace tarvo::client::window_test {

/// The one application of a main-window test program (under xvfb: the 3D view needs OpenGL).
inline QApplication& WindowTestApp() {
  static int argc = 1;
  static char name[] = "tarvo3d_test";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

/// The source tree's client files; levels and screenshots in the test's scratch folder.
inline ClientPaths TestPaths(const std::string& name = "client") {
  ClientPaths paths;
  paths.asset_folders = {TARVO_SOURCE_DIR "/data/client"};
  paths.level_folder = ::testing::TempDir() + "/" + name + "-levels";
  paths.screenshot_folder = ::testing::TempDir() + "/" + name + "-shots";
  return paths;
}

}  // namespace tarvo::client::window_test
