#pragma once
// An update view without a window: keeps the progress position within its
// range as the bar does, and remembers what tells success from failure.

#include <QCoreApplication>
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
    void SetProgressMaximum(int maximum) override { maximum_ = maximum; }
    void SetProgressPosition(int value) override
    {
        // Opening the image sets 0; every accepted block one more.
        if (value > 0)
            ++steps;
        if (value >= 0 && value <= maximum_)
            position_ = value;
    }
    int ProgressPosition() const override { return position_; }
    void SetLamp(Lamp) override {}
    void SetLampBlinking(bool) override {}
    void SetErrorIconEnabled(bool) override {}
    void ClearErrorLines() override { errorLines.clear(); }
    void AddErrorLine(const QString &line) override { errorLines << line; }
    void ClearDescription() override {}
    void AddDescriptionLine(const QString &) override {}
    void ShowFileName(const QString &) override {}
    void ProcessMessages() override
    {
        if (processEvents)
            QCoreApplication::processEvents();
    }
    void Beep() override { ++beeps; }

    bool processEvents = false;
    QString status;
    QStringList errorLines;
    int steps = 0;  // accepted data blocks that asked for another
    int beeps = 0;

private:
    int maximum_ = 100;
    int position_ = 0;
};

}  // namespace bench
