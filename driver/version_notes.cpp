#include "version_notes.h"

namespace luvrin {

Form4::Form4()
    : Text1(QStringLiteral("091105 增加跳循环功能,利用!GT000指令可以生产循环运行的效果\r\n"
                           "091106 保存的数据长度可以用“发送数据长度”来设置\r\n"
                           "091201 优化发送速度\r\n")) {
  setCaption(QStringLiteral("版记录"));
  Text1.setGeometry(240, 360, 7695, 4935);
}

void Form4::Show() {
  setLoaded(true);
  setVisible(true);
}

void Form4::Hide() { setVisible(false); }

}  // namespace luvrin
