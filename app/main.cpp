#include "app/Application.h"
#include "app/MainWindow.h"

int main(int argc, char** argv)
{
  vtr::TApplication app(argc, argv);
  vtr::TfrmMockup03 frmMockup03;
  frmMockup03.show();
  return app.exec();
}
