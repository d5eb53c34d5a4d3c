// assetgen's command line, parsed without writing anything.
#include "tools/assetgen/assetgen_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarvo::assetgen {
namespace {

AssetgenCommandLine Parse(std::vector<std::string> args) {
  args.insert(args.begin(), "assetgen");
  std::vector<const char*> argv;
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  return ParseAssetgenOptions(static_cast<int>(argv.size()), argv.data());
}

TEST(AssetgenOptionsTest, FolderPreviewAndItsSize) {
  const AssetgenCommandLine defaults = Parse({});
  ASSERT_TRUE(defaults.options) << defaults.err;
  EXPECT_EQ(defaults.options->folder, std::filesystem::path("data/client"));
  EXPECT_FALSE(defaults.options->preview_file);
  EXPECT_EQ(defaults.options->preview.width, 640);
  EXPECT_EQ(defaults.options->preview.height, 480);

  const AssetgenCommandLine line =
      Parse({"/tmp/assets", "--preview", "p.png", "--width", "16", "--height", "8192"});
  ASSERT_TRUE(line.options) << line.err;
  EXPECT_EQ(line.options->folder, std::filesystem::path("/tmp/assets"));
  EXPECT_EQ(line.options->preview.data_folder, "/tmp/assets");
  EXPECT_EQ(line.options->preview_file, std::filesystem::path("p.png"));
  EXPECT_EQ(line.options->preview.width, 16);
  EXPECT_EQ(line.options->preview.height, 8192);
}

TEST(AssetgenOptionsTest, BadCommandLinesAndHelp) {
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"--preview", "p.png", "--width", "15"},
                                             {"--preview", "p.png", "--height", "8193"},
                                             {"--width", "100"}}) {
    const AssetgenCommandLine line = Parse(args);
    EXPECT_FALSE(line.options) << args.back();
    EXPECT_NE(line.exit_status, 0);
    EXPECT_NE(line.err, "");
  }
  EXPECT_NE(Parse({"--width", "100"}).err.find("--width requires --preview"), std::string::npos);
  const AssetgenCommandLine help = Parse({"--help"});
  EXPECT_EQ(help.exit_status, 0);
  EXPECT_NE(help.out.find("exit status 2"), std::string::npos) << help.out;
}

}  // namespace
}  // namespace tarvo::assetgen
