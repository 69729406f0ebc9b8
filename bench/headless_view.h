#pragma once
// An update view without a window: counts the progress steps and remembers
// what tells success from failure.

#include <QString>
#include <QStringList>

#include "core/engine/update_view.h"

namespace bench {

class HeadlessView : public UpdateView {
public:
    void SetLoadCaption(const QString &) override {}
    void SetStopEnabled(bool) override {}
    void SetStatusLine(const QString &text) override { status = text; }
    void SetPercentage(const QString &) override {}
    void SetProgressMaximum(int) override {}
    void SetProgressPosition(int value) override
    {
        // Opening the image sets 0; every accepted block one more.
        if (value > 0)
            ++steps;
    }
    void SetLamp(Lamp) override {}
    void SetLampBlinking(bool) override {}
    void SetErrorIconEnabled(bool) override {}
    void ClearErrorLines() override { errorLines.clear(); }
    void AddErrorLine(const QString &line) override { errorLines << line; }
    void ClearDescription() override {}
    void AddDescriptionLine(const QString &) override {}
    void ShowFileName(const QString &) override {}
    void Beep() override { ++beeps; }

    QString status;
    QStringList errorLines;
    int steps = 0;  // accepted data blocks that asked for another
    int beeps = 0;
};

}  // namespace bench
