#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <string>
#include <thread>

#include "boundary_layer/diagnostics.h"

using namespace velaro;

namespace {

// Sets or clears one environment variable for the length of a test and puts
// back what was there before.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value)
      ::setenv(name, value, 1);
    else
      ::unsetenv(name);
  }
  ~ScopedEnv() {
    if (old_)
      ::setenv(name_.c_str(), old_->c_str(), 1);
    else
      ::unsetenv(name_.c_str());
  }

 private:
  std::string name_;
  std::optional<std::string> old_;
};

}  // namespace

TEST(DiagnosticSwitches, Utf8Validation) {
  EXPECT_TRUE(is_valid_utf8(""));
  EXPECT_TRUE(is_valid_utf8("1"));
  EXPECT_TRUE(is_valid_utf8("caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"));
  EXPECT_FALSE(is_valid_utf8("\xff"));
  EXPECT_FALSE(is_valid_utf8("\xc3"));              // truncated before the terminator
  EXPECT_FALSE(is_valid_utf8("\xc0\x80"));          // overlong NUL
  EXPECT_FALSE(is_valid_utf8("\xed\xa0\x80"));      // surrogate
  EXPECT_FALSE(is_valid_utf8("\xf4\x90\x80\x80"));  // past U+10FFFF
  EXPECT_FALSE(is_valid_utf8("\x80"));              // stray continuation byte
}

TEST(DiagnosticSwitches, SnapshotReadsEachSwitchFromTheEnvironment) {
  ScopedEnv a("VELARO_SETBL_DEBUG", "1");
  ScopedEnv b("VELARO_UPDATE_DEBUG", "");  // an empty value counts as set
  ScopedEnv c("VELARO_DUE_DEBUG", "\xff");  // not UTF-8: not set
  ScopedEnv d("VELARO_FC_DEBUG", nullptr);
  const DiagnosticSwitches s = DiagnosticSwitches::from_environment();
  EXPECT_TRUE(s.is_set("VELARO_SETBL_DEBUG"));
  EXPECT_TRUE(s.is_set("VELARO_UPDATE_DEBUG"));
  EXPECT_FALSE(s.is_set("VELARO_DUE_DEBUG"));
  EXPECT_FALSE(s.is_set("VELARO_FC_DEBUG"));
  EXPECT_FALSE(s.is_set("VELARO_NOT_A_SWITCH"));
  EXPECT_TRUE(s.any());
  EXPECT_FALSE(DiagnosticSwitches{}.any());
}

TEST(DiagnosticSwitches, SetAcceptsKnownNamesOnly) {
  DiagnosticSwitches s;
  EXPECT_TRUE(s.set("VELARO_NEWTON_CMP"));
  EXPECT_TRUE(s.is_set("VELARO_NEWTON_CMP"));
  EXPECT_TRUE(s.set("VELARO_NEWTON_CMP", false));
  EXPECT_FALSE(s.is_set("VELARO_NEWTON_CMP"));
  EXPECT_FALSE(s.set("VELARO_NOT_A_SWITCH"));
  EXPECT_FALSE(s.any());
  for (auto name : kDiagnosticSwitchNames) EXPECT_EQ(diagnostic_switch_index(name).has_value(), true) << name;
}

TEST(DiagnosticSwitches, WithoutSnapshotTheEnvironmentIsRead) {
  ASSERT_EQ(installed_diagnostic_switches(), nullptr);
  {
    ScopedEnv on("VELARO_TESYS_DEBUG", "yes");
    EXPECT_TRUE(diagnostic_switch_enabled("VELARO_TESYS_DEBUG"));
  }
  ScopedEnv off("VELARO_TESYS_DEBUG", nullptr);
  EXPECT_FALSE(diagnostic_switch_enabled("VELARO_TESYS_DEBUG"));
}

TEST(DiagnosticSwitches, InstalledSnapshotHidesTheEnvironment) {
  DiagnosticSwitches snapshot;
  snapshot.set("VELARO_BLDIF_DEBUG");
  ScopedEnv bldif("VELARO_BLDIF_DEBUG", nullptr);
  ScopedEnv newton("VELARO_NEWTON_DEBUG", "1");
  {
    InstalledSwitches guard(&snapshot);
    EXPECT_EQ(installed_diagnostic_switches(), &snapshot);
    // Set in the snapshot, absent from the environment, and the other way
    // round: only the snapshot counts.
    EXPECT_TRUE(diagnostic_switch_enabled("VELARO_BLDIF_DEBUG"));
    EXPECT_FALSE(diagnostic_switch_enabled("VELARO_NEWTON_DEBUG"));
    // Changing the environment while the snapshot is installed changes
    // nothing either.
    ScopedEnv later("VELARO_BLDIF_DEBUG", "\xff");
    ScopedEnv later2("VELARO_SOLVE_DEBUG", "1");
    EXPECT_TRUE(diagnostic_switch_enabled("VELARO_BLDIF_DEBUG"));
    EXPECT_FALSE(diagnostic_switch_enabled("VELARO_SOLVE_DEBUG"));
    // A name the snapshot does not know is off, not looked up.
    ScopedEnv unknown("VELARO_NOT_A_SWITCH", "1");
    EXPECT_FALSE(diagnostic_switch_enabled("VELARO_NOT_A_SWITCH"));
  }
  EXPECT_EQ(installed_diagnostic_switches(), nullptr);
  EXPECT_FALSE(diagnostic_switch_enabled("VELARO_BLDIF_DEBUG"));
  EXPECT_TRUE(diagnostic_switch_enabled("VELARO_NEWTON_DEBUG"));
}

TEST(DiagnosticSwitches, GuardsNestAndANullGuardKeepsTheCurrentSnapshot) {
  DiagnosticSwitches outer;
  outer.set("VELARO_FC_DEBUG");
  DiagnosticSwitches inner;
  inner.set("VELARO_DUI_DEBUG");
  {
    InstalledSwitches g1(&outer);
    {
      InstalledSwitches g2(&inner);
      EXPECT_TRUE(diagnostic_switch_enabled("VELARO_DUI_DEBUG"));
      EXPECT_FALSE(diagnostic_switch_enabled("VELARO_FC_DEBUG"));
      {
        InstalledSwitches none(nullptr);
        EXPECT_EQ(installed_diagnostic_switches(), &inner);
      }
      EXPECT_EQ(installed_diagnostic_switches(), &inner);
    }
    EXPECT_EQ(installed_diagnostic_switches(), &outer);
    EXPECT_TRUE(diagnostic_switch_enabled("VELARO_FC_DEBUG"));
  }
  EXPECT_EQ(installed_diagnostic_switches(), nullptr);
}

TEST(DiagnosticSwitches, EachThreadSeesOnlyItsOwnSnapshot) {
  DiagnosticSwitches main_snapshot;
  main_snapshot.set("VELARO_TRANS_DEBUG");
  InstalledSwitches guard(&main_snapshot);

  const DiagnosticSwitches* seen_by_worker = &main_snapshot;
  bool worker_own_trans = true;
  bool worker_own_raw = false;
  std::thread worker([&] {
    // A fresh thread starts with nothing installed.
    seen_by_worker = installed_diagnostic_switches();
    DiagnosticSwitches mine;
    mine.set("VELARO_RAW_RES_DEBUG");
    InstalledSwitches g(&mine);
    worker_own_trans = diagnostic_switch_enabled("VELARO_TRANS_DEBUG");
    worker_own_raw = diagnostic_switch_enabled("VELARO_RAW_RES_DEBUG");
  });
  worker.join();
  EXPECT_EQ(seen_by_worker, nullptr);
  EXPECT_FALSE(worker_own_trans);
  EXPECT_TRUE(worker_own_raw);
  // The worker's guard did not disturb this thread.
  EXPECT_EQ(installed_diagnostic_switches(), &main_snapshot);
  EXPECT_TRUE(diagnostic_switch_enabled("VELARO_TRANS_DEBUG"));
  EXPECT_FALSE(diagnostic_switch_enabled("VELARO_RAW_RES_DEBUG"));
}

// A switch read by some trace point but missing from the list would be
// silently off in every batch run: scan the sources for the names they use.
TEST(DiagnosticSwitches, EverySwitchNamedInTheSourcesIsListed) {
  namespace fs = std::filesystem;
  const fs::path src = fs::path(__FILE__).parent_path().parent_path().parent_path().parent_path() / "src";
  if (!fs::is_directory(src)) GTEST_SKIP() << "source tree not found at " << src;
  const std::regex quoted("\"(VELARO_[A-Z0-9_]+)\"");
  std::set<std::string> used;
  for (const auto& entry : fs::recursive_directory_iterator(src)) {
    const auto ext = entry.path().extension();
    if (ext != ".cpp" && ext != ".h") continue;
    if (entry.path().parent_path().filename() == "python") continue;  // docstrings and bindings
    std::ifstream in(entry.path());
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (auto it = std::sregex_iterator(text.begin(), text.end(), quoted); it != std::sregex_iterator(); ++it)
      used.insert((*it)[1].str());
  }
  EXPECT_FALSE(used.empty());
  for (const std::string& name : used) EXPECT_TRUE(diagnostic_switch_index(name).has_value()) << name;
}
