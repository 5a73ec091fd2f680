#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
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

TEST(DiagnosticSwitches, SnapshotReadsEachSwitchFromTheEnvironment) {
  ScopedEnv a("VELARO_SETBL_DEBUG", "1");
  ScopedEnv b("VELARO_UPDATE_DEBUG", "");  // an empty value counts as set
  ScopedEnv c("VELARO_DUE_DEBUG", "\xff");  // not UTF-8: not set
  ScopedEnv d("VELARO_FC_DEBUG", nullptr);
  const DiagnosticSwitches s = DiagnosticSwitches::from_environment();
  EXPECT_TRUE(s.is_set(DiagnosticSwitch::SetblDebug));
  EXPECT_TRUE(s.is_set(DiagnosticSwitch::UpdateDebug));
  EXPECT_FALSE(s.is_set(DiagnosticSwitch::DueDebug));
  EXPECT_FALSE(s.is_set(DiagnosticSwitch::FcDebug));
  EXPECT_TRUE(s.any());
  EXPECT_FALSE(DiagnosticSwitches{}.any());
}

TEST(DiagnosticSwitches, SetAndClearOneSwitch) {
  DiagnosticSwitches s;
  s.set(DiagnosticSwitch::NewtonCmp);
  EXPECT_TRUE(s.is_set(DiagnosticSwitch::NewtonCmp));
  EXPECT_FALSE(s.is_set(DiagnosticSwitch::NewtonDebug));
  s.set(DiagnosticSwitch::NewtonCmp, false);
  EXPECT_FALSE(s.is_set(DiagnosticSwitch::NewtonCmp));
  EXPECT_FALSE(s.any());
}

// Every switch has its own variable, and the name lookup finds each one.
TEST(DiagnosticSwitches, NamesAreDistinctAndFoundAgain) {
  std::set<std::string_view> seen;
  for (std::size_t k = 0; k < kDiagnosticSwitchCount; ++k) {
    const auto s = static_cast<DiagnosticSwitch>(k);
    EXPECT_TRUE(seen.insert(diagnostic_switch_name(s)).second) << diagnostic_switch_name(s);
    EXPECT_EQ(diagnostic_switch_from_name(diagnostic_switch_name(s)), s);
  }
  EXPECT_FALSE(diagnostic_switch_from_name("VELARO_NOT_A_SWITCH").has_value());
}

TEST(DiagnosticSwitches, WithoutSnapshotTheEnvironmentIsRead) {
  ASSERT_EQ(installed_diagnostic_switches(), nullptr);
  {
    ScopedEnv on("VELARO_TESYS_DEBUG", "yes");
    EXPECT_TRUE(diagnostic_switch_enabled(DiagnosticSwitch::TesysDebug));
  }
  ScopedEnv off("VELARO_TESYS_DEBUG", nullptr);
  EXPECT_FALSE(diagnostic_switch_enabled(DiagnosticSwitch::TesysDebug));
}

TEST(DiagnosticSwitches, InstalledSnapshotHidesTheEnvironment) {
  DiagnosticSwitches snapshot;
  snapshot.set(DiagnosticSwitch::BldifDebug);
  ScopedEnv bldif("VELARO_BLDIF_DEBUG", nullptr);
  ScopedEnv newton("VELARO_NEWTON_DEBUG", "1");
  {
    InstalledSwitches guard(&snapshot);
    EXPECT_EQ(installed_diagnostic_switches(), &snapshot);
    // Set in the snapshot, absent from the environment, and the other way
    // round: only the snapshot counts.
    EXPECT_TRUE(diagnostic_switch_enabled(DiagnosticSwitch::BldifDebug));
    EXPECT_FALSE(diagnostic_switch_enabled(DiagnosticSwitch::NewtonDebug));
    // Changing the environment while the snapshot is installed changes
    // nothing either.
    ScopedEnv later("VELARO_BLDIF_DEBUG", "\xff");
    ScopedEnv later2("VELARO_SOLVE_DEBUG", "1");
    EXPECT_TRUE(diagnostic_switch_enabled(DiagnosticSwitch::BldifDebug));
    EXPECT_FALSE(diagnostic_switch_enabled(DiagnosticSwitch::SolveDebug));
  }
  EXPECT_EQ(installed_diagnostic_switches(), nullptr);
  EXPECT_FALSE(diagnostic_switch_enabled(DiagnosticSwitch::BldifDebug));
  EXPECT_TRUE(diagnostic_switch_enabled(DiagnosticSwitch::NewtonDebug));
}

TEST(DiagnosticSwitches, GuardsNestAndANullGuardKeepsTheCurrentSnapshot) {
  DiagnosticSwitches outer;
  outer.set(DiagnosticSwitch::FcDebug);
  DiagnosticSwitches inner;
  inner.set(DiagnosticSwitch::DuiDebug);
  {
    InstalledSwitches g1(&outer);
    {
      InstalledSwitches g2(&inner);
      EXPECT_TRUE(diagnostic_switch_enabled(DiagnosticSwitch::DuiDebug));
      EXPECT_FALSE(diagnostic_switch_enabled(DiagnosticSwitch::FcDebug));
      {
        InstalledSwitches none(nullptr);
        EXPECT_EQ(installed_diagnostic_switches(), &inner);
      }
      EXPECT_EQ(installed_diagnostic_switches(), &inner);
    }
    EXPECT_EQ(installed_diagnostic_switches(), &outer);
    EXPECT_TRUE(diagnostic_switch_enabled(DiagnosticSwitch::FcDebug));
  }
  EXPECT_EQ(installed_diagnostic_switches(), nullptr);
}

TEST(DiagnosticSwitches, EachThreadSeesOnlyItsOwnSnapshot) {
  DiagnosticSwitches main_snapshot;
  main_snapshot.set(DiagnosticSwitch::TransDebug);
  InstalledSwitches guard(&main_snapshot);

  const DiagnosticSwitches* seen_by_worker = &main_snapshot;
  bool worker_own_trans = true;
  bool worker_own_raw = false;
  std::thread worker([&] {
    // A fresh thread starts with nothing installed.
    seen_by_worker = installed_diagnostic_switches();
    DiagnosticSwitches mine;
    mine.set(DiagnosticSwitch::RawResDebug);
    InstalledSwitches g(&mine);
    worker_own_trans = diagnostic_switch_enabled(DiagnosticSwitch::TransDebug);
    worker_own_raw = diagnostic_switch_enabled(DiagnosticSwitch::RawResDebug);
  });
  worker.join();
  EXPECT_EQ(seen_by_worker, nullptr);
  EXPECT_FALSE(worker_own_trans);
  EXPECT_TRUE(worker_own_raw);
  // The worker's guard did not disturb this thread.
  EXPECT_EQ(installed_diagnostic_switches(), &main_snapshot);
  EXPECT_TRUE(diagnostic_switch_enabled(DiagnosticSwitch::TransDebug));
  EXPECT_FALSE(diagnostic_switch_enabled(DiagnosticSwitch::RawResDebug));
}
