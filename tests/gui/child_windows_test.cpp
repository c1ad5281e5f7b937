// The options dialog, the channel window and the about dialog as a user meets them.
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "app/capture_app.h"
#include "app/channel_window.h"
#include "app/main_window.h"
#include "gui/gui_harness.h"

namespace tavrel::testing {
namespace {

void Press(QWidget& dialog, QDialogButtonBox::StandardButton which) {
    dialog.findChild<QDialogButtonBox*>()->button(which)->click();
}

void Type(QLineEdit& edit, const std::string& text) {
    edit.selectAll();
    edit.insert(QString::fromStdString(text));
}

// Opens a window of the main window's menu and runs `act` on it while it is open.
void OpenFromMenu(GuiHarness& h, const char* action, const char* window,
                  std::function<void(QWidget&)> act) {
    bool reached = false;
    WhenModal(window, [&](QWidget& dialog) {
        reached = true;
        act(dialog);
    });
    h.app->Main().findChild<QAction*>(action)->trigger();
    EXPECT_TRUE(reached) << window;
}

// The options dialog shows the settings, keeps bad input open, applies OK and not Cancel; the
// channel window stays disabled for the FX2 device and hides on its close box.
TEST(ChildWindowsTest, OptionsDialogChannelWindowAndAboutDialog) {
    GuiHarness h;
    h.WriteIni(
        "[Tavrel_M]\nTIMER_PERIOD=2\nTHREAD_PRIORITY_PROC=2\n[Tavrel_M_PSI]\nDECODE_PSI=1\n");
    ASSERT_TRUE(h.app->Start());
    OpenFromMenu(h, "action_options", "options_dialog", [&](QWidget& dialog) {
        auto& period = Child<QLineEdit>(dialog, "timer_period");
        auto& path = Child<QLineEdit>(dialog, "auto_path");
        EXPECT_EQ(std::tuple(period.text().toStdString(),
                             Child<QComboBox>(dialog, "priority_proc").currentText().toStdString(),
                             Child<QCheckBox>(dialog, "decode_psi").isChecked(),
                             Child<QCheckBox>(dialog, "proc_epg").isChecked()),
                  std::tuple("2", "高", true, false));
        EXPECT_FALSE(SaveScreenshot(dialog, "options_dialog").empty());

        // Only digits can be typed; a period beyond the system's range is refused, and the
        // dialog stays.
        Type(period, "12x");
        EXPECT_EQ(period.text().toStdString().find('x'), std::string::npos);
        Type(period, "1000001");
        Press(dialog, QDialogButtonBox::Ok);
        EXPECT_TRUE(dialog.isVisible());
        Type(period, "0");
        Type(path, h.dir.Path());
        Child<QCheckBox>(dialog, "proc_epg").setChecked(true);
        Child<QComboBox>(dialog, "priority_rec").setCurrentIndex(1);
        Press(dialog, QDialogButtonBox::Ok);
        EXPECT_FALSE(dialog.isVisible());
    });
    const std::vector<test_support::ScriptedUi::Message> refused = {
        {"タイマ精度設定値が不正です", "tavrel"}};
    EXPECT_EQ(h.ui.messages, refused);
    const Settings& s = h.app->App().CurrentSettings();
    EXPECT_EQ(std::tuple(s.timer_period, s.proc_epg, s.decode_psi, s.thread_priority_rec,
                         s.thread_priority_proc, s.rec_autopath),
              std::tuple(0, 1, 1, 1, 2, h.dir.Path()));

    // Cancel changes nothing, even with bad input in the dialog.
    const Settings before = s;
    h.ui.messages.clear();
    OpenFromMenu(h, "action_options", "options_dialog", [](QWidget& dialog) {
        Child<QCheckBox>(dialog, "proc_data").setChecked(true);
        Child<QLineEdit>(dialog, "timer_period").setText("abc");
        Press(dialog, QDialogButtonBox::Cancel);
    });
    EXPECT_EQ(h.app->App().CurrentSettings(), before);
    EXPECT_TRUE(h.ui.messages.empty());

    ChannelWindow& channel = h.app->Main().Channel();
    QAction& toggle = *h.app->Main().findChild<QAction*>("action_channel");
    EXPECT_FALSE(channel.isVisible());
    toggle.trigger();
    EXPECT_TRUE(channel.isVisible() && channel.windowTitle() == QString("チャンネル設定"));

    // The built-in FX2 device offers neither channels nor text commands: all stay disabled,
    // also while capturing.
    h.Find<QPushButton>("connect").click();
    ASSERT_TRUE(h.app->App().Capturing());
    ProcessEventsUntil([] { return false; }, 300);
    for (const char* name : {"channels", "change", "channel_text", "channel_send"}) {
        EXPECT_FALSE(Child<QWidget>(channel, name).isEnabled()) << name;
    }
    EXPECT_EQ(Child<QPushButton>(channel, "change").text().toStdString(), "変更");
    EXPECT_FALSE(SaveScreenshot(channel, "channel_window").empty());
    h.Find<QPushButton>("connect").click();

    channel.close();
    EXPECT_FALSE(channel.isVisible() || h.app->App().ChannelWindow().place.visible);
    toggle.trigger();
    EXPECT_TRUE(channel.isVisible()) << "closed means hidden: the menu shows it again";

    OpenFromMenu(h, "action_about", "about_dialog", [](QWidget& dialog) {
        EXPECT_EQ(Child<QLabel>(dialog, "about_name").text().toStdString(),
                  std::string("Tavrel ") + TAVREL_VERSION);
        EXPECT_FALSE(Child<QLabel>(dialog, "about_notice").text().isEmpty());
        EXPECT_FALSE(SaveScreenshot(dialog, "about_dialog").empty());
        Press(dialog, QDialogButtonBox::Ok);
        EXPECT_FALSE(dialog.isVisible());
    });
    EXPECT_TRUE(h.app->Main().close());
    h.ExpectIni({"CHWND_SHOW=1"});
}

}  // namespace
}  // namespace tavrel::testing
