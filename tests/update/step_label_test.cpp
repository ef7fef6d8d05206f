// The blink timer hides a step's label for a moment of every blink; whatever the moment the step
// ends, its label is shown again after it. Each case stops the blinking while the label is hidden,
// during the step's last exchange.

#include "tests/support/run_test_support.h"

#include <algorithm>

using sim::Fault;

namespace {

struct LabelCase {
    int n; // the unit's address 127.0.4.n
    int label;
    const char* file;     // the parameter file for the default-setting step
    const char* lastSeen; // the step's last command as the unit sees it
};

std::ostream& operator<<(std::ostream& out, const LabelCase& c) {
    return out << "label " << c.label;
}

class StepLabelTest : public RunTest, public ::testing::WithParamInterface<LabelCase> {};

TEST_P(StepLabelTest, LabelHiddenByTheBlinkIsShownAgainAfterItsStep) {
    const LabelCase& c = GetParam();
    sim::UnitConfig config;
    // The unit takes its time to write, so that the label can blink off meanwhile.
    for (const char* command : {"EXCM u_soft", "EXCM w_stupall"}) {
        Fault slow = FaultOf(Fault::Trigger::Command, command, Fault::Action::Delay);
        slow.delayMs = 600;
        config.faults.push_back(slow);
    }
    sim::Unit& unit = OpenOneStep(c.n, c.file, 500, config);
    auto& view = m_runner->View();
    ASSERT_TRUE(view.Control(c.label).visible);

    m_whileRunning = [&] {
        const auto seen = unit.Commands();
        if (m_blinking && std::find(seen.begin(), seen.end(), c.lastSeen) != seen.end() &&
            !view.Control(c.label).visible)
            m_blinking = false;
    };
    ASSERT_EQ(RunAgainst(c.n), RunEnd::Complete) << BoxTexts();
    ASSERT_FALSE(m_blinking) << "the label never blinked off during its step";
    EXPECT_TRUE(view.Control(c.label).visible);
}

INSTANTIATE_TEST_SUITE_P(EveryStep, StepLabelTest,
                         ::testing::Values(LabelCase{40, IDC_STEP1, "ab07.cpu", "telnet: u_soft"},
                                           LabelCase{41, IDC_STEP2, "fpga5m.bin", "EXCM u_soft"},
                                           LabelCase{42, IDC_STEP3, "Rfpga.bin", "EXCM u_soft"},
                                           LabelCase{43, IDC_STEP4, "oem_a.htm", "EXCM u_soft"},
                                           LabelCase{44, IDC_STEP5, "index.htm", "EXCM u_soft"},
                                           LabelCase{45, IDC_STEP6, "CUR1.bmp", "EXCM u_soft"},
                                           LabelCase{46, IDC_STEP7, "ICON1.bmp", "EXCM u_soft"},
                                           LabelCase{47, IDC_STEP8, "s1.sdt", "EXCM u_soft"},
                                           LabelCase{48, IDC_STEP9, "g1.tbl", "EXCM u_soft"},
                                           LabelCase{49, IDC_STEP10, "sc1.cst", "EXCM u_soft"},
                                           LabelCase{50, IDC_STEP11, "LOGO.bmp", "EXCM u_soft"},
                                           LabelCase{51, IDC_STEP12, "Tfpga.bin", "EXCM u_soft"},
                                           LabelCase{52, IDC_DEFAULT_SETTING, kParamFileName,
                                                     "EXCM w_stupall"}));

} // namespace
