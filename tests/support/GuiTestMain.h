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

#define VELMORA_GUI_TEST_MAIN(TestObject) VELMORA_GUI_TEST_MAIN_ON_SCREEN(TestObject, QSize())

// On the offscreen platform, with one screen of this size.
#define VELMORA_GUI_TEST_MAIN_ON_SCREEN(TestObject, screen)                                        \
    int main(int argc, char **argv) {                                                              \
        velmora::test::prepareTestEnvironment(screen);                                             \
        VELMORA_GUI_TEST_APPLICATION app(argc, argv);                                              \
        TestObject test;                                                                           \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&test, argc, argv);                                                    \
    }

// For tests that run the program's real windows: an X server (Xvfb) of the test's own, so focus
// and key routing are as on a desktop.
#include "support/PrivateXServer.h"

#include <cstdio>

#define VELMORA_PRIVATE_X_TEST_MAIN(TestObject)                                                    \
    int main(int argc, char **argv) {                                                              \
        velmora::test::PrivateXServer server;                                                      \
        const QString display = server.display();                                                  \
        if (display.isEmpty()) {                                                                   \
            std::fprintf(stderr, "%s could not start its X server (Xvfb).\n", argv[0]);            \
            return 1;                                                                              \
        }                                                                                          \
        qputenv("DISPLAY", display.toLocal8Bit());                                                 \
        qputenv("QT_QPA_PLATFORM", "xcb");                                                         \
        velmora::test::prepareTestEnvironment();                                                   \
        VELMORA_GUI_TEST_APPLICATION app(argc, argv);                                              \
        TestObject test;                                                                           \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&test, argc, argv);                                                    \
    }
