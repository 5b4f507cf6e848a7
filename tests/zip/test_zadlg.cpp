// The component's dialog on Qt's offscreen platform: widgets, button order and results, the
// password edit, and the fall-through from an OnZipDialog handler that does not answer.
#include "zip/zacore.h"
#include "zip/zadlg.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

namespace {

QApplication &app() {
  static int argc = 1;
  static char arg0[] = "test_zadlg";
  static char *argv[] = {arg0, nullptr};
  static QApplication *a = new QApplication(argc, argv);
  return *a;
}

TEST(ZipDialog, ButtonsInFixedOrderWithTheirResults) {
  app();
  TZipDialogBox box(nullptr, ZipContext(kZipKindQuestion, 10000));
  box.Build("T", "Overwrite?", ZipButtons({mbYesToAll, mbNo, mbYes, mbCancel}));
  const char *captions[] = {"&Yes", "&No", "&Cancel", "YesToAll"};
  const int results[] = {6, 7, 2, 10};
  for (int i = 0; i < 4; ++i) {
    auto *b = box.findChild<QPushButton *>(QStringLiteral("zbdlg%1").arg(i + 1));
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->text().toStdString(), captions[i]);
    QTimer::singleShot(0, b, &QPushButton::click);
    EXPECT_EQ(box.exec(), results[i]);
  }
  EXPECT_NE(box.findChild<QLabel *>("zbdText"), nullptr);
  EXPECT_NE(box.findChild<QLabel *>("Image"), nullptr);
  EXPECT_EQ(box.findChild<QLineEdit *>("zbdEdit"), nullptr);
  // Escape answers like the cancel button.
  QTimer::singleShot(0, &box, [&] { box.reject(); });
  EXPECT_EQ(box.exec(), 2);
}

TEST(ZipDialog, PasswordDialogLayout) {
  app();
  TZipDialogBox box(nullptr, ZipContext(kZipKindPassword, 10003));
  box.Build("Password", "Enter Password ", ZipButtons({mbOK, mbCancel, mbAll}));
  auto *edit = box.findChild<QLineEdit *>("zbdEdit");
  ASSERT_NE(edit, nullptr);
  EXPECT_EQ(edit->echoMode(), QLineEdit::Password);
  EXPECT_EQ(edit->maxLength(), 80);
  EXPECT_EQ(box.findChild<QLabel *>("Image"), nullptr);
  auto *ok = box.findChild<QPushButton *>("zbdlg1");
  auto *all = box.findChild<QPushButton *>("zbdlg3");
  ASSERT_TRUE(ok && all);
  EXPECT_TRUE(ok->isDefault());
  EXPECT_EQ(all->text().toStdString(), "CancelAll");
  // Buttons sit in one row below the edit, centred, all equally wide.
  EXPECT_GT(ok->geometry().top(), edit->geometry().bottom());
  EXPECT_EQ(ok->width(), all->width());
  int left = ok->geometry().left(), right = box.width() - all->geometry().right() - 1;
  EXPECT_LE(std::abs(left - right), 1);
  EXPECT_GE(box.width(), edit->width());
}

TEST(ZipDialog, UnansweredHandlerFallsThroughToTheDialog) {
  app();
  TZACore core;
  int handler_calls = 0;
  core.Events.OnZipDialog = [&](TCustomZipArchiver *, const std::string &, std::string &, int &ctx,
                                TMsgDlgButtons) {
    ++handler_calls;  // leaves ctx above 10: not answered
    (void)ctx;
  };
  QTimer::singleShot(0, [] {
    auto *box = qobject_cast<TZipDialogBox *>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    box->findChild<QLineEdit *>("zbdEdit")->setText("typed secret");
    box->findChild<QPushButton *>("zbdlg1")->click();
  });
  TMsgDlgBtn result = mbAbort;
  std::string pw = core.GetExtrPassword(result);
  EXPECT_EQ(handler_calls, 1);
  EXPECT_EQ(result, mbOK);
  EXPECT_EQ(pw, "typed secret");
}

TEST(ZipDialog, AddPasswordsMustMatch) {
  app();
  TZACore core;
  std::vector<std::string> answers = {"one", "two"};
  std::vector<int> contexts;
  std::vector<std::string> boxes;
  core.Events.OnZipDialog = [&](TCustomZipArchiver *, const std::string &, std::string &msg, int &ctx,
                                TMsgDlgButtons) {
    contexts.push_back(ctx & 0xFFFF);
    if ((ctx & 0xFFFF) == 10000) {
      boxes.push_back(msg);
      ctx = 1;
      return;
    }
    msg = answers[contexts.size() - 1];
    ctx = 1;
  };
  EXPECT_EQ(core.GetAddPassword(), "");
  EXPECT_EQ(contexts, (std::vector<int>{10004, 10005, 10000}));
  EXPECT_EQ(boxes.back(), "Error - passwords do NOT match\nPassword ignored");
  contexts.clear();
  answers = {"same", "same"};
  EXPECT_EQ(core.GetAddPassword(), "same");
}

TEST(ZipDialog, UnattendedShowsNothing) {
  app();
  TZACore core;
  core.Unattended = true;
  core.ShowZipMessage(10102, "");
  EXPECT_EQ(core.ErrCode, 0);  // neither attended nor listened to: nothing changes
  EXPECT_EQ(core.GetExtrPassword(), "");
}

}  // namespace
