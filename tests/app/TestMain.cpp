// Application tests run under the program's own application object, so exceptions that
// escape an event handler reach its error box as they do in the program.
#include "app/Application.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  vtr::TApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
