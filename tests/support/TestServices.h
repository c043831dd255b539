#pragma once

#include "ScriptedMessageBoxes.h"
#include "app/DefaultBackends.h"
#include "core/AppError.h"
#include "core/AppState.h"
#include "core/Services.h"

#include "core/UrlOpener.h"
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

class RecordingUrlOpener : public UrlOpener {
public:
    bool openUrl(const QUrl &url) override
    {
        opened << url;
        return result;
    }
    QList<QUrl> opened;
    bool result = true;
};

// A fresh application folder with the real backends, scripted boxes and a recorded end.
struct TestServices {
    TestServices()
    {
        services.messages = &boxes;
        services.urls = &urls;
        services.appPath = dir.path();
        services.dataPath = dir.path();
        UseDefaultBackends(services);
        services.endProgram = [this] { ++ended; };
    }
    // A question nobody answered, or an answer nobody asked for, fails the test that made them.
    ~TestServices()
    {
        const QString problems = boxes.problems();
        if (!problems.isEmpty())
            QTest::qFail(qPrintable(problems), __FILE__, __LINE__);
    }
    QString file(const QString &name) const { return dir.filePath(name); }

    QTemporaryDir dir;
    ScriptedMessageBoxes boxes;
    RecordingUrlOpener urls;
    Services services;
    AppState state;
    int ended = 0;
};

// The error a step that must fail raised; no pending error when it did not fail.
template <typename F> ErrorInfo failureOf(F &&step)
{
    try {
        step();
    } catch (const AppError &e) {
        return e.info();
    }
    return ErrorInfo{};
}

QByteArray readBytes(const QString &path);
void writeBytes(const QString &path, const QByteArray &bytes);
