// What an installation holds: the Debian packages CPack makes from this build, unpacked and
// checked by lintian, and the man page that they and `cmake --install` put in section 1.
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

// The packages CPack makes from the build directory the tests come from, built once for the
// suite (which takes a while) and each unpacked into a root of its own.
class DebianPackageTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (RunShell("command -v cpack && command -v dpkg-deb").exit_code != 0) return;
    temp_ = new TempDir();
    packed_ = new ProgramRun(RunShell("cd " + Quoted(temp_->path()) + " && cpack -G DEB --config " +
                                      Quoted(fs::path(BOARDMILL_BUILD_DIR) / "CPackConfig.cmake") +
                                      " -B " + Quoted(*temp_ / "package")));
  }
  static void TearDownTestSuite() {
    delete packed_;
    delete temp_;
    packed_ = nullptr;
    temp_ = nullptr;
  }

  void SetUp() override {
    if (temp_ == nullptr) {
      GTEST_SKIP() << "cpack or dpkg-deb is not installed (scripts/install-deps.sh installs them)";
    }
    ASSERT_EQ(packed_->exit_code, 0) << packed_->out << packed_->err;
  }

  // The .deb of `package`, named as Debian names it.
  static fs::path Package(const std::string& package) {
    return *temp_ / "package" /
           (package + "_" BOARDMILL_PROJECT_VERSION "_" + Architecture() + ".deb");
  }
  static std::string Architecture() {
    std::string architecture = RunShell("dpkg --print-architecture").out;
    while (!architecture.empty() && architecture.back() == '\n') architecture.pop_back();
    return architecture;
  }

  // Unpacks `package` into a root of its own, as dpkg would install it.
  static fs::path Unpacked(const std::string& package) {
    const fs::path root = *temp_ / ("root-" + package);
    EXPECT_EQ(RunShell("dpkg-deb -x " + Quoted(Package(package)) + " " + Quoted(root)).exit_code,
              0);
    return root;
  }

  static std::string Field(const std::string& package, const std::string& field) {
    return RunShell("dpkg-deb -f " + Quoted(Package(package)) + " " + field).out;
  }

  // What every package carries under /usr/share/doc/<package>.
  static void ExpectDebianDocuments(const fs::path& root, const std::string& package) {
    const fs::path documents = root / "usr/share/doc" / package;
    EXPECT_NE(ReadFile(documents / "copyright").find("License: Expat"), std::string::npos);
    EXPECT_EQ(RunShell("gzip -dc " + Quoted(documents / "changelog.gz") + " | grep -c '^## \\[" +
                       BOARDMILL_PROJECT_VERSION + "\\]'")
                  .out,
              "1\n");
  }

  static TempDir* temp_;
  static ProgramRun* packed_;
};

TempDir* DebianPackageTest::temp_ = nullptr;
ProgramRun* DebianPackageTest::packed_ = nullptr;

TEST_F(DebianPackageTest, TheCommandLinePackageRunsWithoutOpenMpi) {
  const fs::path root = Unpacked("boardmill");
  ExpectRun(RunShell(Quoted(root / "usr/bin/boardmill") + " --version"), 0,
            "boardmill " BOARDMILL_PROJECT_VERSION "\n", "");
  EXPECT_FALSE(fs::exists(root / "usr/bin/boardmill-mpi"));
  EXPECT_NE(RunShell("gzip -dc " + Quoted(root / "usr/share/man/man1/boardmill.1.gz"))
                .out.find(".TH BOARDMILL 1"),
            std::string::npos);
  EXPECT_TRUE(fs::is_regular_file(root / "usr/share/doc/boardmill/README.md"));
  ExpectDebianDocuments(root, "boardmill");

  const std::string depends = Field("boardmill", "Depends");
  EXPECT_NE(depends.find("libzstd"), std::string::npos) << depends;
  EXPECT_NE(depends.find("liburing"), std::string::npos) << depends;
  EXPECT_EQ(depends.find("mpi"), std::string::npos) << depends;
  EXPECT_NE(Field("boardmill", "Description").find("\n ."), std::string::npos)
      << "no extended description";
}

TEST_F(DebianPackageTest, TheMpiPackageAddsTheMpiFlavourAndDependsOnOpenMpi) {
  const fs::path root = Unpacked("boardmill-mpi");
  EXPECT_TRUE(fs::is_regular_file(root / "usr/bin/boardmill-mpi"));
  EXPECT_FALSE(fs::exists(root / "usr/bin/boardmill")) << "a file of the boardmill package";
  EXPECT_EQ(fs::read_symlink(root / "usr/share/man/man1/boardmill-mpi.1.gz"), "boardmill.1.gz");
  ExpectDebianDocuments(root, "boardmill-mpi");

  const std::string depends = Field("boardmill-mpi", "Depends");
  EXPECT_NE(depends.find("libopenmpi"), std::string::npos) << depends;
  EXPECT_NE(depends.find("boardmill (= " BOARDMILL_PROJECT_VERSION ")"), std::string::npos)
      << depends;
}

// Packages are made from release builds; a sanitizer's runtime is no part of one.
TEST_F(DebianPackageTest, LintianFindsNoErrorInAnyPackage) {
  if (kAddressSanitizerBuild || kThreadSanitizerBuild) {
    GTEST_SKIP() << "a sanitizer build is never packaged";
  }
  if (RunShell("command -v lintian").exit_code != 0) {
    GTEST_SKIP() << "lintian is not installed (scripts/install-deps.sh installs it)";
  }
  const ProgramRun lintian =
      RunShell("lintian --fail-on error " + Quoted(*temp_ / "package") + "/*.deb");
  EXPECT_EQ(lintian.exit_code, 0) << lintian.out << lintian.err;
}

}  // namespace
}  // namespace boardmill::testing
