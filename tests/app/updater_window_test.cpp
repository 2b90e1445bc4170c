// The updater window with a simulated unit on a virtual device pair: whole runs, failed runs,
// the busy check and the window's surface.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <optional>

#include "app/tarn_updator_dlg.h"
#include "platform/instance_slot.h"
#include "resources/dialog_templates.h"
#include "resources/embedded_resources.h"
#include "sim/virtual_sim_unit.h"
#include "tests/app/window_driver.h"

namespace {

using namespace rxtest;

constexpr int kControls[] = {rx::IDC_MIDI_IN, rx::IDC_MIDI_OUT, IDOK, rx::IDC_RESCAN};

sim::Options WithFaults(const std::string& text) {
    sim::Options options;
    std::string error;
    EXPECT_TRUE(sim::ParseFaults(text, &options.faults, &error)) << error;
    return options;
}

QComboBox* List(CDialog& dialog, int id) {
    return qobject_cast<QComboBox*>(Item(dialog, id));
}

std::string Selected(CDialog& dialog, int id) {
    QComboBox* list = List(dialog, id);
    return list != nullptr && list->currentIndex() >= 0 ? list->currentText().toStdString() : "";
}

class UpdaterWindowTest : public AppFixture {};

TEST_F(UpdaterWindowTest, WholeUpdateRunsThroughTheWindowAndLeavesExecuteDisabled) {
    StartApp();
    sim::CVirtualSimUnit unit;
    CTarnUpdatorDlg dialog(nullptr, QuickTimings());
    BoxAnswerer boxes;
    std::vector<int> progress;

    RunModal(dialog, [&] {
        EXPECT_EQ(Selected(dialog, rx::IDC_MIDI_IN), "TAVO RX Series");
        EXPECT_EQ(Selected(dialog, rx::IDC_MIDI_OUT), "TAVO RX Series");
        auto* bar = qobject_cast<QProgressBar*>(Item(dialog, rx::IDC_PROGRESS));
        ASSERT_NE(bar, nullptr);
        EXPECT_EQ(bar->minimum(), 0);
        EXPECT_EQ(bar->maximum(), 100);
        QObject::connect(bar, &QProgressBar::valueChanged, bar,
                         [&](int value) { progress.push_back(value); });

        TextRecorder steps(dialog, rx::IDC_STEP);
        TextRecorder status(dialog, rx::IDC_STATUS);
        Click(dialog, IDOK);
        for (int id : kControls) {
            EXPECT_FALSE(Enabled(dialog, id)) << "control " << id << " during the run";
        }
        ASSERT_TRUE(WaitUntil([&] { return status.Contains("Version update completed."); }));
        ASSERT_TRUE(
            WaitUntil([&] { return !Enabled(dialog, IDOK) && Enabled(dialog, rx::IDC_RESCAN); }));

        EXPECT_EQ(steps.Texts(), (std::vector<std::string>{"0/7", "1/7", "2/7", "3/7", "4/7", "5/7",
                                                           "6/7", "7/7"}));
        EXPECT_EQ(status.Texts().front(), "Erasing Flash memory.");
        EXPECT_TRUE(status.Contains("Data transmit  0 / 262144 "));
        EXPECT_TRUE(status.Contains("Data transmit  10240 / 12288 "));
        EXPECT_TRUE(status.Contains("Data transmit  718848 / 720896 "));
        EXPECT_EQ(status.Texts().back(), "Version update completed.");
        EXPECT_EQ(Text(dialog, rx::IDC_STATUS), "Version update completed.");
        EXPECT_EQ(Text(dialog, rx::IDC_STEP), "7/7");
        EXPECT_GT(progress.size(), 7u);

        EXPECT_TRUE(Enabled(dialog, rx::IDC_MIDI_IN));
        EXPECT_TRUE(Enabled(dialog, rx::IDC_MIDI_OUT));
        EXPECT_FALSE(Enabled(dialog, IDOK));
        EXPECT_FALSE(dialog.Engine().IsBusy());

        List(dialog, rx::IDC_MIDI_OUT)->setCurrentIndex(-1);
        Click(dialog, rx::IDC_RESCAN);
        EXPECT_TRUE(Enabled(dialog, IDOK));
        EXPECT_EQ(Selected(dialog, rx::IDC_MIDI_OUT), "TAVO RX Series");
        EXPECT_EQ(Text(dialog, rx::IDC_STATUS), "Version update completed.");
    });

    EXPECT_TRUE(boxes.Seen().empty());
    for (const sim::Region& region : sim::kRegions) {
        EXPECT_TRUE(unit.Unit().CheckRegion(region, rx::EmbeddedImage(region.imageId)).equal)
            << "region at " << region.address;
    }
}

struct FailureCase {
    const char* faults;
    const char* box;
    const char* step;
    // The one wait that the case runs into, shortened; every other wait stays generous.
    DWORD EngineTimings::*shortened = nullptr;
};

class FailedRunTest : public AppFixture, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(FailedRunTest, ShowsOneErrorBoxThenRestoresTheControls) {
    const FailureCase& failure = GetParam();
    StartApp();
    sim::CVirtualSimUnit unit(sim::kDefaultDeviceName, WithFaults(failure.faults));
    EngineTimings timings = QuickTimings();
    if (failure.shortened != nullptr) {
        timings.*failure.shortened = 300;
    }
    CTarnUpdatorDlg dialog(nullptr, timings);
    std::vector<bool> executeEnabledWhileBoxUp;
    BoxAnswerer boxes(
        [&](const SeenBox&) { executeEnabledWhileBoxUp.push_back(Enabled(dialog, IDOK)); });

    RunModal(dialog, [&] {
        Click(dialog, IDOK);
        ASSERT_TRUE(WaitUntil([&] { return !boxes.Seen().empty() && !dialog.Engine().IsBusy(); }));
        for (int id : kControls) {
            EXPECT_TRUE(Enabled(dialog, id)) << "control " << id << " after the failure";
        }
        EXPECT_EQ(Text(dialog, rx::IDC_STEP), failure.step);
    });

    ASSERT_EQ(boxes.Seen().size(), 1u);
    EXPECT_EQ(boxes.Seen()[0].text, failure.box);
    EXPECT_EQ(boxes.Seen()[0].caption, "Error");
    EXPECT_EQ(boxes.Seen()[0].icon, QMessageBox::Critical);
    EXPECT_EQ(executeEnabledWhileBoxUp, std::vector<bool>{false});
}

INSTANTIATE_TEST_SUITE_P(
    Failures, FailedRunTest,
    ::testing::Values(
        FailureCase{"not-update-mode", "Please use the firmware update mode.", "0/7"},
        FailureCase{"family=0x41", "Illegal device connected.", "0/7"},
        FailureCase{"begin-status=1", "Transfer error occurred.", "0/7"},
        FailureCase{"silent=identity", "Time out error(1)", "0/7",
                    &EngineTimings::identityTimeoutMs},
        FailureCase{"silent=erase:0", "Time out error(3)", "1/7", &EngineTimings::eraseTimeoutMs},
        FailureCase{"silent=write:2", "Time out error(2)", "3/7", &EngineTimings::writeTimeoutMs}),
    [](const auto& info) {
        std::string name;
        for (char ch : std::string(info.param.faults)) {
            name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
        }
        return name;
    });

TEST_F(UpdaterWindowTest, ExecuteDuringARunSaysInProgressAndLeavesTheRunAlone) {
    StartApp();
    sim::CVirtualSimUnit unit(sim::kDefaultDeviceName, WithFaults("silent=begin"));
    CTarnUpdatorDlg dialog(nullptr, EndlessTimings());
    BoxAnswerer boxes;

    RunModal(dialog, [&] {
        Click(dialog, IDOK);
        ASSERT_TRUE(
            WaitUntil([&] { return Text(dialog, rx::IDC_STATUS) == "Erasing Flash memory."; }));
        dialog.SendCommand(IDOK);
        ASSERT_EQ(boxes.Seen().size(), 1u);
        EXPECT_EQ(boxes.Seen()[0].text, "In Progress.");
        EXPECT_EQ(boxes.Seen()[0].caption, "Error");
        EXPECT_TRUE(dialog.Engine().IsBusy());
        for (int id : kControls) {
            EXPECT_FALSE(Enabled(dialog, id)) << "control " << id;
        }
        EXPECT_EQ(unit.Unit().GetRecord().Received(sim::Kind::kIdentityRequest), 1);
    });
    EXPECT_EQ(boxes.Seen().size(), 1u);
}

TEST_F(UpdaterWindowTest, PortThatDoesNotOpenIsReportedAndChangesNothing) {
    StartApp();
    CTarnUpdatorDlg dialog(nullptr, QuickTimings());
    BoxAnswerer boxes;

    RunModal(dialog, [&] {
        EXPECT_EQ(List(dialog, rx::IDC_MIDI_OUT)->currentIndex(), -1);
        Click(dialog, IDOK);
        for (int id : kControls) {
            EXPECT_TRUE(Enabled(dialog, id)) << "control " << id;
        }
        EXPECT_FALSE(dialog.Engine().IsBusy());
    });
    ASSERT_EQ(boxes.Seen().size(), 1u);
    EXPECT_EQ(boxes.Seen()[0].text, "Can't open MIDI Out device.");
}

TEST_F(UpdaterWindowTest, SurfaceIsLaidOutFromTheTemplate) {
    StartApp();
    CTarnUpdatorDlg dialog(nullptr, QuickTimings());

    RunModal(dialog, [&] {
        QWidget* window = dialog.GetSafeHwnd();
        EXPECT_EQ(window->windowTitle().toStdString(), "TAVO RX-300 v3.10 Updater");
        EXPECT_FALSE(window->windowIcon().isNull());
        auto* execute = qobject_cast<QPushButton*>(Item(dialog, IDOK));
        ASSERT_NE(execute, nullptr);
        EXPECT_TRUE(execute->isDefault());
        EXPECT_EQ(execute->text().toStdString(), "Execute");
        EXPECT_TRUE(WaitUntil([&] { return QApplication::focusWidget() == execute; }));

        // Tab order is template order over the controls that take focus.
        std::vector<int> order;
        const int ids[] = {IDOK,           IDCANCEL,       rx::IDC_MIDI_IN, rx::IDC_MIDI_OUT,
                           rx::IDC_STATUS, rx::IDC_RESCAN, rx::IDC_STEP};
        QWidget* widget = execute;
        for (std::size_t i = 0; i < std::size(ids); ++i) {
            for (int id : ids) {
                if (Item(dialog, id) == widget) {
                    order.push_back(id);
                }
            }
            widget = widget->nextInFocusChain();
            while (widget->focusPolicy() == Qt::NoFocus) {
                widget = widget->nextInFocusChain();
            }
        }
        EXPECT_EQ(order, std::vector<int>(std::begin(ids), std::end(ids)));

        for (int id : {rx::IDC_STATUS, rx::IDC_STEP}) {
            auto* edit = qobject_cast<QLineEdit*>(Item(dialog, id));
            ASSERT_NE(edit, nullptr);
            EXPECT_TRUE(edit->isReadOnly());
            EXPECT_FALSE(edit->hasFrame());
        }
        // Positions follow the template's dialog units: Exit right of Execute on one line,
        // the lists one above the other at the same left edge.
        QWidget* exit = Item(dialog, IDCANCEL);
        EXPECT_EQ(exit->y(), execute->y());
        EXPECT_GT(exit->x(), execute->x() + execute->width());
        EXPECT_EQ(Item(dialog, rx::IDC_MIDI_IN)->x(), Item(dialog, rx::IDC_MIDI_OUT)->x());
        EXPECT_LT(Item(dialog, rx::IDC_MIDI_IN)->y(), Item(dialog, rx::IDC_MIDI_OUT)->y());
        EXPECT_LE(exit->x() + exit->width(), window->width());
        EXPECT_LE(exit->y() + exit->height(), window->height());
    });
}

// Start-up with slots 1 and 2 held elsewhere: the real InitInstance takes slot 3 and shows
// the window with that number in its caption.
TEST_F(UpdaterWindowTest, ThirdInstanceShowsItsNumberInTheCaption) {
    Hold(1);
    Hold(2);
    CTarnUpdatorApp app;
    std::optional<std::string> caption;
    QTimer::singleShot(0, [&] {
        ASSERT_TRUE(WaitUntil([] { return QApplication::activeModalWidget() != nullptr; }));
        QWidget* window = QApplication::activeModalWidget();
        caption = window->windowTitle().toStdString();
        window->close();
    });
    EXPECT_FALSE(app.InitInstance());
    Keep(app);
    EXPECT_EQ(app.m_instanceNumber, 3);
    EXPECT_EQ(caption, "TAVO RX-300 v3.10 Updater (3)");
}

// The window menu lives in the dialog's context menu; Alt+A opens the About box too, and so
// does every command id from 0x10 to 0x1F.
TEST_F(UpdaterWindowTest, AboutBoxOpensFromTheContextMenuAndAltA) {
    StartApp({1});
    CTarnUpdatorDlg dialog(nullptr, QuickTimings());
    std::vector<std::string> menuTexts;
    std::vector<std::string> aboutTexts;

    // Menus and About boxes run loops of their own, so they are answered from a timer.
    QTimer answerer;
    QObject::connect(&answerer, &QTimer::timeout, [&] {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            QAction* about = nullptr;
            for (QAction* action : menu->actions()) {
                menuTexts.push_back(action->isSeparator() ? "-" : action->text().toStdString());
                if (action->text().startsWith("About")) {
                    about = action;
                }
            }
            if (about != nullptr) {
                QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(about).center());
            } else {
                menu->close();
            }
            return;
        }
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || modal == dialog.GetSafeHwnd() || !modal->isVisible()) {
            return;
        }
        std::string product;
        for (auto* edit : modal->findChildren<QLineEdit*>()) {
            product = edit->text().toStdString();
        }
        aboutTexts.push_back(modal->windowTitle().toStdString() + " | " + product);
        if (auto* ok = modal->findChild<QPushButton*>()) {
            ok->click();
        }
    });
    answerer.start(2);

    RunModal(dialog, [&] {
        QWidget* window = dialog.GetSafeHwnd();
        QApplication::setActiveWindow(window);
        ASSERT_TRUE(WaitUntil([&] { return QApplication::activeWindow() == window; }));

        QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5),
                                window->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(window, &event);
        EXPECT_EQ(aboutTexts.size(), 1u) << "context menu";

        QApplication::setActiveWindow(window);
        ASSERT_TRUE(WaitUntil([&] { return QApplication::activeWindow() == window; }));
        QTest::keyClick(window, Qt::Key_A, Qt::AltModifier);
        EXPECT_EQ(aboutTexts.size(), 2u) << "Alt+A";

        dialog.SendSysCommand(0x1F);
        EXPECT_EQ(aboutTexts.size(), 3u) << "command 0x1F";
    });

    EXPECT_EQ(menuTexts, (std::vector<std::string>{"Close", "-", "About RX-300 Updater(&A)..."}));
    EXPECT_EQ(aboutTexts,
              std::vector<std::string>(3, "About RX-910 Updater | TAVO RX-300 v3.10 Updater"));
}

}  // namespace
