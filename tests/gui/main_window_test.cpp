#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include "app/main_window.h"
#include "gui/gui_harness.h"
#include "gui/screenshot.h"

namespace tavrel::testing {
namespace {

TEST(MainWindowTest, StartsOnTheSimulatedTunerInJapanese) {
    GuiHarness h;
    ASSERT_TRUE(h.app->Start());
    auto& device = h.Find<QComboBox>("device");
    ASSERT_EQ(device.count(), 1);
    EXPECT_EQ(device.itemText(0).toStdString(), "Simulated FX2 tuner");
    EXPECT_EQ(h.Find<QPushButton>("connect").text().toStdString(), "接続");
    EXPECT_TRUE(h.Find<QPushButton>("connect").isEnabled());
    EXPECT_FALSE(h.Find<QPushButton>("record").isEnabled());
    EXPECT_EQ(h.Find<QComboBox>("endpoint_in").currentText().toStdString(), "0x81");
    EXPECT_FALSE(SaveScreenshot(h.app->Main(), "main_window_idle").empty());
}

}  // namespace
}  // namespace tavrel::testing
