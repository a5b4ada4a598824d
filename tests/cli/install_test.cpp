// What an installation holds: the Debian package CPack makes from this build, unpacked, and the
// man page that it and `cmake --install` put in section 1.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "test_support.h"

namespace boardmill::testing {
namespace {

namespace fs = std::filesystem;

std::string Quoted(const fs::path& path) { return QuoteForShell(path.string()); }

// The man page as built (the version filled in), its escaped hyphens read as hyphens.
std::string ManPageText() {
  std::string text = ReadFile(fs::path(BOARDMILL_BUILD_DIR) / "boardmill.1");
  for (std::size_t at = text.find("\\-"); at != std::string::npos; at = text.find("\\-", at)) {
    text.erase(at, 1);
  }
  return text;
}

bool IsOptionCharacter(char c) { return (c >= 'a' && c <= 'z') || c == '-'; }

// The option words of a text: "--" and the letters and hyphens that follow.
std::set<std::string> OptionWords(const std::string& text) {
  std::set<std::string> words;
  for (std::size_t at = text.find("--"); at != std::string::npos; at = text.find("--", at + 2)) {
    std::size_t end = at + 2;
    while (end < text.size() && IsOptionCharacter(text[end])) ++end;
    words.insert(text.substr(at, end - at));
  }
  return words;
}

// The usage text shows every option of every command's table, so it stands for the tables here.
TEST(ManPageTest, ManPageAndReadmeDocumentEveryOptionOfTheUsageText) {
  const ProgramRun help = RunBoardmill({"--help"});
  ASSERT_EQ(help.exit_code, 0);
  const std::set<std::string> options = OptionWords(help.out);
  ASSERT_GT(options.size(), 30U);
  const fs::path readme =
      fs::path(BOARDMILL_TEST_DATA_DIR).parent_path().parent_path() / "README.md";
  for (const auto& [document, text] :
       {std::pair<std::string, std::string>{"man page", ManPageText()},
        std::pair<std::string, std::string>{"README", ReadFile(readme)}}) {
    const std::set<std::string> documented = OptionWords(text);
    for (const std::string& option : options) {
      EXPECT_EQ(documented.count(option), 1U) << option << " is missing from the " << document;
    }
  }
  EXPECT_NE(ManPageText().find("boardmill " BOARDMILL_PROJECT_VERSION), std::string::npos);
}

// Builds the package from the build directory the tests come from, which takes a while.
TEST(DebianPackageTest, InstallsTheBinaryAndManPageAndNamesItsLibraries) {
  if (RunShell("command -v cpack && command -v dpkg-deb").exit_code != 0) {
    GTEST_SKIP() << "cpack or dpkg-deb is not installed (scripts/install-deps.sh installs them)";
  }
  TempDir temp;
  const ProgramRun packed = RunShell("cd " + Quoted(temp.path()) + " && cpack -G DEB --config " +
                                     Quoted(fs::path(BOARDMILL_BUILD_DIR) / "CPackConfig.cmake") +
                                     " -B " + Quoted(temp / "package"));
  ASSERT_EQ(packed.exit_code, 0) << packed.out << packed.err;
  fs::path made;
  for (const fs::directory_entry& entry : fs::directory_iterator(temp / "package")) {
    if (entry.path().extension() == ".deb") made = entry.path();
  }
  ASSERT_FALSE(made.empty()) << packed.out;
  EXPECT_TRUE(made.filename().string().starts_with("boardmill_" BOARDMILL_PROJECT_VERSION "_"))
      << made;

  const fs::path root = temp / "root";
  ASSERT_EQ(RunShell("dpkg-deb -x " + Quoted(made) + " " + Quoted(root)).exit_code, 0);
  ExpectRun(RunShell(Quoted(root / "usr/bin/boardmill") + " --version"), 0,
            "boardmill " BOARDMILL_PROJECT_VERSION "\n", "");
  EXPECT_TRUE(fs::is_regular_file(root / "usr/share/man/man1/boardmill.1"));
  EXPECT_TRUE(fs::is_regular_file(root / "usr/share/doc/boardmill/README.md"));

  const std::string depends = RunShell("dpkg-deb -f " + Quoted(made) + " Depends").out;
  EXPECT_NE(depends.find("libzstd"), std::string::npos) << depends;
  EXPECT_NE(depends.find("liburing"), std::string::npos) << depends;
}

}  // namespace
}  // namespace boardmill::testing
