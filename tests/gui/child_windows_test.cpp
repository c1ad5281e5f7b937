// The options dialog, the channel window and the about dialog as a user meets them.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include "app/about_dialog.h"
#include "app/capture_app.h"
#include "app/channel_window.h"
#include "app/main_window.h"
#include "app/options_dialog.h"
#include "gui/gui_harness.h"
#include "gui/screenshot.h"

namespace tavrel::testing {
namespace {

QPushButton& OkButton(QWidget& dialog) {
    return *dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
}

// QWidget-derived windows without Q_OBJECT are found by their object name.
QWidget* ModalNamed(const char* name) {
    QWidget* modal = QApplication::activeModalWidget();
    return modal != nullptr && modal->objectName() == name ? modal : nullptr;
}

TEST(OptionsDialogTest, ShowsTheSettingsKeepsBadInputOpenAndAppliesOk) {
    GuiHarness h;
    test_support::WriteText(h.dir.File("tavrel.ini"),
                            "[Tavrel_M]\nTIMER_PERIOD=2\nTHREAD_PRIORITY_PROC=2\n"
                            "[Tavrel_M_PSI]\nDECODE_PSI=1\n");
    ASSERT_TRUE(h.app->Start());
    QAction& options = *h.app->Main().findChild<QAction*>("action_options");
    bool checked = false;
    QTimer::singleShot(0, [&] {
        QWidget* dialog = ModalNamed("options_dialog");
        ASSERT_NE(dialog, nullptr);
        auto& period = *dialog->findChild<QLineEdit*>("timer_period");
        EXPECT_EQ(period.text().toStdString(), "2");
        EXPECT_EQ(dialog->findChild<QComboBox*>("priority_proc")->currentText().toStdString(),
                  "高");
        EXPECT_EQ(dialog->findChild<QComboBox*>("priority_rec")->currentText().toStdString(),
                  "標準");
        EXPECT_TRUE(dialog->findChild<QCheckBox*>("decode_psi")->isChecked());
        EXPECT_FALSE(dialog->findChild<QCheckBox*>("proc_epg")->isChecked());
        EXPECT_EQ(dialog->findChild<QLineEdit*>("auto_path")->text().toStdString(),
                  h.app->App().CurrentSettings().rec_autopath);
        EXPECT_FALSE(SaveScreenshot(*dialog, "options_dialog").empty());

        // Only digits can be typed; a period beyond the system's range is refused and the
        // dialog stays.
        period.selectAll();
        period.insert("12x");
        EXPECT_EQ(period.text().toStdString().find('x'), std::string::npos);
        period.selectAll();
        period.insert("1000001");
        OkButton(*dialog).click();
        EXPECT_TRUE(dialog->isVisible());
        // A folder that does not exist: refused.
        period.selectAll();
        period.insert("0");
        auto& path = *dialog->findChild<QLineEdit*>("auto_path");
        path.selectAll();
        path.insert(QString::fromStdString(h.dir.File("no such folder")));
        OkButton(*dialog).click();
        EXPECT_TRUE(dialog->isVisible());

        path.selectAll();
        path.insert(QString::fromStdString(h.dir.Path()));
        dialog->findChild<QCheckBox*>("proc_epg")->setChecked(true);
        dialog->findChild<QComboBox*>("priority_rec")->setCurrentIndex(1);
        checked = true;
        OkButton(*dialog).click();
        EXPECT_FALSE(dialog->isVisible());
    });
    options.trigger();
    ASSERT_TRUE(checked);
    const std::vector<test_support::ScriptedUi::Message> refused = {
        {"タイマ精度設定値が不正です", "tavrel"}, {"保存先パスは無効です", "tavrel"}};
    EXPECT_EQ(h.ui.messages, refused);
    const Settings& s = h.app->App().CurrentSettings();
    EXPECT_EQ(s.timer_period, 0);
    EXPECT_EQ(s.proc_epg, 1);
    EXPECT_EQ(s.decode_psi, 1);
    EXPECT_EQ(s.thread_priority_rec, 1);
    EXPECT_EQ(s.thread_priority_proc, 2);
    EXPECT_EQ(s.rec_autopath, h.dir.Path());
}

TEST(OptionsDialogTest, CancelChangesNothing) {
    GuiHarness h;
    ASSERT_TRUE(h.app->Start());
    const Settings before = h.app->App().CurrentSettings();
    bool reached = false;
    QTimer::singleShot(0, [&] {
        QWidget* dialog = ModalNamed("options_dialog");
        ASSERT_NE(dialog, nullptr);
        dialog->findChild<QCheckBox*>("proc_data")->setChecked(true);
        dialog->findChild<QLineEdit*>("timer_period")->setText("abc");
        reached = true;
        dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel)->click();
    });
    h.app->Main().findChild<QAction*>("action_options")->trigger();
    ASSERT_TRUE(reached);
    EXPECT_EQ(h.app->App().CurrentSettings(), before);
    EXPECT_TRUE(h.ui.messages.empty());
}

TEST(ChannelWindowTest, ShownByTheMenuHiddenByItsCloseBoxDisabledForTheFx2) {
    GuiHarness h;
    ASSERT_TRUE(h.app->Start());
    ChannelWindow& channel = h.app->Main().Channel();
    QAction& toggle = *h.app->Main().findChild<QAction*>("action_channel");
    EXPECT_FALSE(channel.isVisible());
    toggle.trigger();
    EXPECT_TRUE(channel.isVisible());
    EXPECT_EQ(channel.windowTitle().toStdString(), "チャンネル設定");

    // The built-in FX2 device offers neither channels nor text commands: all stay disabled,
    // also while capturing.
    h.Find<QPushButton>("connect").click();
    ASSERT_TRUE(h.app->App().Capturing());
    ProcessEventsUntil([] { return false; }, 300);
    for (const char* name : {"channels", "change", "channel_text", "channel_send"}) {
        EXPECT_FALSE(channel.findChild<QWidget*>(name)->isEnabled()) << name;
    }
    EXPECT_EQ(channel.findChild<QPushButton*>("change")->text().toStdString(), "変更");
    EXPECT_FALSE(SaveScreenshot(channel, "channel_window").empty());
    h.Find<QPushButton>("connect").click();

    channel.close();
    EXPECT_FALSE(channel.isVisible());
    EXPECT_FALSE(h.app->App().ChannelWindow().place.visible);
    toggle.trigger();
    EXPECT_TRUE(channel.isVisible()) << "closed means hidden: the menu shows it again";
    EXPECT_TRUE(h.app->Main().close());
    EXPECT_NE(test_support::ReadText(h.dir.File("tavrel.ini")).find("CHWND_SHOW=1\n"),
              std::string::npos);
}

TEST(AboutDialogTest, ShowsNameAndVersionAndClosesOnItsButton) {
    GuiHarness h;
    ASSERT_TRUE(h.app->Start());
    bool reached = false;
    QTimer::singleShot(0, [&] {
        QWidget* dialog = ModalNamed("about_dialog");
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->findChild<QLabel*>("about_name")->text().toStdString(),
                  std::string("Tavrel ") + TAVREL_VERSION);
        EXPECT_FALSE(dialog->findChild<QLabel*>("about_notice")->text().isEmpty());
        EXPECT_FALSE(SaveScreenshot(*dialog, "about_dialog").empty());
        reached = true;
        OkButton(*dialog).click();
        EXPECT_FALSE(dialog->isVisible());
    });
    h.app->Main().findChild<QAction*>("action_about")->trigger();
    EXPECT_TRUE(reached);
}

}  // namespace
}  // namespace tavrel::testing
