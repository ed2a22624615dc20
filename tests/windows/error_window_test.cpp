#include "windows/error_window.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace tarnveil {
namespace {

// Runs the deferred deletes that closing a window with WA_DeleteOnClose leaves.
void settle()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

int openErrorWindows()
{
    int count = 0;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (qobject_cast<frmError*>(widget) != nullptr && widget->isVisible())
            ++count;
    }
    return count;
}

class ErrorWindowTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        if (frmError* window = frmError::instance())
            window->close();
        settle();
    }
};

TEST_F(ErrorWindowTest, SecondReportReplacesTheTextInTheSameWindow)
{
    frmError::report("53 File not found");
    frmError* first = frmError::instance();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->parentWidget(), nullptr);
    EXPECT_FALSE(first->isModal());
    EXPECT_EQ(first->focusWidget(), first->OKButton);

    frmError::report("No Log Selected");
    EXPECT_EQ(frmError::instance(), first);
    EXPECT_EQ(first->lblMessage->text(), "No Log Selected");
    EXPECT_EQ(openErrorWindows(), 1);
}

TEST_F(ErrorWindowTest, EnterOkAndCloseBoxUnloadAndTheNextReportStartsEmpty)
{
    frmError::report("Wave file does not exist or has been damaged");
    QTest::keyClick(frmError::instance(), Qt::Key_Return);
    settle();
    EXPECT_EQ(frmError::instance(), nullptr);
    EXPECT_EQ(openErrorWindows(), 0);

    frmError* again = frmError::showWindow();
    EXPECT_TRUE(again->lblMessage->text().isEmpty());
    again->lblMessage->setText("first");
    QTest::mouseClick(again->OKButton, Qt::LeftButton);
    settle();
    EXPECT_EQ(frmError::instance(), nullptr);

    frmError::report("second");
    frmError::instance()->close(); // what the title-bar box does
    settle();
    EXPECT_EQ(frmError::instance(), nullptr);
}

TEST_F(ErrorWindowTest, EscapeDoesNothing)
{
    frmError::report("70 Permission denied");
    frmError* window = frmError::instance();
    QTest::keyClick(window, Qt::Key_Escape);
    QTest::keyClick(window->OKButton, Qt::Key_Escape);
    settle();
    ASSERT_EQ(frmError::instance(), window);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->lblMessage->text(), "70 Permission denied");
}

TEST_F(ErrorWindowTest, AShortMessageKeepsTheDesignedSizeAndALongOneGrowsTheWindowToShowItWhole)
{
    frmError::report("53 File not found");
    frmError* window = frmError::instance();
    EXPECT_EQ(window->size(), QSize(279, 167));
    EXPECT_EQ(window->minimumSize(), window->maximumSize());
    EXPECT_EQ(window->lblMessage->geometry(), QRect(24, 24, 225, 89));
    EXPECT_EQ(window->OKButton->geometry(), QRect(120, 128, 41, 25));

    QString text = "75 Path/File access error:";
    for (int i = 0; i < 40; ++i)
        text += " /mnt/logger/logs/segment";
    const QString longWord = "/mnt/logger/logs/" + QString(60, 'x') + ".wav";
    for (const QString& message : {text, longWord}) {
        // Set as a caller that shows the window first and then sets the text.
        frmError::showWindow()->lblMessage->setText(message);
        QCoreApplication::processEvents();
        const QRect label = window->lblMessage->geometry();
        EXPECT_GE(label.height(), window->lblMessage->heightForWidth(label.width())) << message.toStdString();
        EXPECT_GE(window->OKButton->y(), label.bottom());
        EXPECT_LE(window->OKButton->geometry().bottom(), window->height());
        EXPECT_EQ(window->minimumSize(), window->maximumSize());
    }
    EXPECT_GE(window->lblMessage->width(), window->lblMessage->fontMetrics().horizontalAdvance(longWord));

    frmError::report("No Log Selected");
    EXPECT_EQ(window->size(), QSize(279, 167));
}

TEST_F(ErrorWindowTest, ActivationGivesOkTheFocus)
{
    frmError* window = frmError::showWindow();
    window->lblMessage->setFocusPolicy(Qt::StrongFocus);
    window->lblMessage->setFocus();
    QEvent activate(QEvent::WindowActivate);
    QApplication::sendEvent(window, &activate);
    EXPECT_EQ(window->focusWidget(), window->OKButton);
}

} // namespace
} // namespace tarnveil
