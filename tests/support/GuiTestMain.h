#pragma once

#include "support/TestSupport.h"

// For tests of code that lays out text or draws: a QApplication when the test links Widgets,
// otherwise a QGuiApplication.
#ifdef QT_WIDGETS_LIB
#include <QApplication>
#define VELMORA_GUI_TEST_APPLICATION QApplication
#else
#include <QGuiApplication>
#define VELMORA_GUI_TEST_APPLICATION QGuiApplication
#endif

#define VELMORA_GUI_TEST_MAIN(TestObject)                                                          \
    int main(int argc, char **argv) {                                                              \
        velmora::test::prepareTestEnvironment();                                                   \
        VELMORA_GUI_TEST_APPLICATION app(argc, argv);                                              \
        TestObject test;                                                                           \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&test, argc, argv);                                                    \
    }
