// A picture of the window in the middle of an update, taken from the real window: the run is
// held on a block that the unit leaves unanswered. Saved to $RX300_SCREENSHOT, or to
// window.png in the working directory; docs/window.png is made this way.
#include <gtest/gtest.h>

#include <QPixmap>
#include <QProgressBar>
#include <cstdlib>

#include "app/tarn_updator_dlg.h"
#include "resources/dialog_templates.h"
#include "sim/virtual_sim_unit.h"
#include "tests/app/window_driver.h"

namespace {

using namespace rxtest;

class ScreenshotTest : public AppFixture {};

TEST_F(ScreenshotTest, WindowMidUpdateIsSavedAsPicture) {
    StartApp();
    sim::Options options;
    std::string error;
    ASSERT_TRUE(sim::ParseFaults("silent=write:40", &options.faults, &error)) << error;
    sim::CVirtualSimUnit unit(sim::kDefaultDeviceName, options);
    CTarnUpdatorDlg dialog(nullptr, EndlessTimings());
    const char* path = std::getenv("RX300_SCREENSHOT");
    const QString file = path != nullptr ? QString::fromLocal8Bit(path) : "window.png";

    RunModal(dialog, [&] {
        Click(dialog, IDOK);
        ASSERT_TRUE(WaitUntil(
            [&] { return Text(dialog, rx::IDC_STATUS) == "Data transmit  81920 / 262144 "; }));
        auto* bar = qobject_cast<QProgressBar*>(Item(dialog, rx::IDC_PROGRESS));
        ASSERT_NE(bar, nullptr);
        EXPECT_GT(bar->value(), bar->minimum());
        EXPECT_LT(bar->value(), bar->maximum());
        EXPECT_EQ(Text(dialog, rx::IDC_STEP), "3/7");

        QWidget* window = dialog.GetSafeHwnd();
        const QPixmap picture = window->grab();
        EXPECT_EQ(picture.size(), window->size());
        EXPECT_TRUE(picture.save(file, "PNG")) << file.toStdString();
    });
}

}  // namespace
