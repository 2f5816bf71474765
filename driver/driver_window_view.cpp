#include "driver_window_view.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>

#include "driver_window.h"

namespace luvrin {

namespace {
constexpr int kClientWidth = 10680;
// 运行 (Command5) ends at 8415 twips; the client area leaves a margin below it.
constexpr int kClientHeight = 8520;
}  // namespace

Form1View::Form1View(Form1& model, QWidget* parent) : QWidget(parent), model_(model) {
  const TwipScale scale;
  setAttribute(Qt::WA_DeleteOnClose, false);
  applyWindowFont(this);
  if (!QApplication::windowIcon().isNull()) setWindowIcon(QApplication::windowIcon());

  auto label = [&](Label& m, const char* name) {
    auto* w = new QLabel(this);
    w->setObjectName(QString::fromLatin1(name));
    bindings_.add<LabelBinding>(m, w, scale);
    return w;
  };
  auto line = [&](TextBox& m, const char* name) {
    auto* w = new QLineEdit(this);
    w->setObjectName(QString::fromLatin1(name));
    bindings_.add<LineEditBinding>(m, w, scale);
    return w;
  };
  auto box = [&](TextBox& m, const char* name) {
    auto* w = makeMultiLineBox(this, ScrollBars::Both);
    w->setObjectName(QString::fromLatin1(name));
    bindings_.add<TextEditBinding>(m, w, scale);
    return w;
  };
  auto button = [&](CommandButton& m, const char* name) {
    auto* w = new QPushButton(this);
    w->setObjectName(QString::fromLatin1(name));
    bindings_.add<ButtonBinding>(m, w, scale);
    return w;
  };

  label(model.Label1, "Label1");
  QLineEdit* text2 = line(model.Text2, "Text2");
  label(model.Label2, "Label2");
  QLineEdit* text1 = line(model.Text1, "Text1");
  label(model.Label7, "Label7");
  QLineEdit* text5 = line(model.Text5, "Text5");
  QPushButton* command3 = button(model.Command3, "Command3");
  QPushButton* command2 = button(model.Command2, "Command2");
  QPushButton* command1 = button(model.Command1, "Command1");
  QLabel* label6 = label(model.Label6, "Label6");
  QPalette blue = label6->palette();
  blue.setColor(QPalette::WindowText, Qt::blue);
  label6->setPalette(blue);
  QPlainTextEdit* text7 = box(model.Text7, "Text7");
  QPlainTextEdit* text3 = box(model.Text3, "Text3");
  QPlainTextEdit* text4 = box(model.Text4, "Text4");
  QPlainTextEdit* text6 = box(model.Text6, "Text6");
  QPushButton* command5 = button(model.Command5, "Command5");
  label(model.Label3, "Label3");
  label(model.Label4, "Label4");
  label(model.Label5, "Label5");
  auto* status = new QLabel(this);
  status->setObjectName(QStringLiteral("StatusLine"));
  bindings_.add<ElidedLabelBinding>(model.StatusLine, status, scale);
  label(model.RemoteLine, "RemoteLine");
  QPushButton* devices = button(model.DevicesButton, "DevicesButton");

  // The window's own tab order; labels take no focus and are left out.
  const QList<QWidget*> order = {text7, text1,    text2, command1, command2, text3,
                                 text4, command5, text5, text6,    command3, devices};
  for (qsizetype i = 1; i < order.size(); ++i) setTabOrder(order[i - 1], order[i]);

  bindings_.add<FormBinding>(model, this);
  resize(scale.px(kClientWidth), scale.px(kClientHeight));
  placeOnScreen(this);
}

Form1View::~Form1View() { bindings_.clear(); }

void Form1View::closeEvent(QCloseEvent* event) {
  event->accept();
  if (model_.onQuit)
    model_.onQuit();
  else
    QCoreApplication::quit();
}

}  // namespace luvrin
