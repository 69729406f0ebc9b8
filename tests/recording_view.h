#pragma once
// An UpdateView that records what the update engine shows, in order, and
// keeps a progress position within its range as the window's bar does.
// onStep runs after each caption, status line and progress step: the engine
// looks at "Stop" and the window's close right after those.

#include <QString>
#include <QStringList>
#include <algorithm>
#include <functional>

#include "core/engine/update_view.h"

class RecordingView : public UpdateView {
public:
    void SetLoadCaption(const QString &text) override
    {
        Log(QStringLiteral("caption:") + text);
        caption = text;
        Step();
    }
    void SetStopEnabled(bool enabled) override { Log(QStringLiteral("stop:%1").arg(enabled)); stopEnabled = enabled; }
    void SetStatusLine(const QString &text) override
    {
        Log(QStringLiteral("status:") + text);
        status = text;
        Step();
    }
    void SetPercentage(const QString &text) override
    {
        Log(QStringLiteral("percent:") + text);
        percentages << text;
        percentage = text;
    }
    void SetProgressMaximum(int maximum) override
    {
        progressMaximum = maximum;
        position = std::min(position, maximum);
    }
    void SetProgressPosition(int value) override
    {
        // Like the bar: a value outside the range leaves the position as it is.
        if (value >= 0 && value <= progressMaximum)
            position = value;
        Step();
    }
    void SetLamp(Lamp value) override
    {
        Log(QStringLiteral("lamp:%1").arg(int(value)));
        lamp = value;
        lamps.push_back(value);
    }
    void SetLampBlinking(bool on) override { Log(QStringLiteral("blink:%1").arg(on)); blinking = on; }
    void SetErrorIconEnabled(bool enabled) override { errorIcon = enabled; }
    void ClearErrorLines() override { Log(QStringLiteral("clear-errors")); errorLines.clear(); }
    void AddErrorLine(const QString &line) override { Log(QStringLiteral("error:") + line); errorLines << line; }
    void ClearDescription() override { descriptionLines.clear(); }
    void AddDescriptionLine(const QString &line) override { descriptionLines << line; }
    void ShowFileName(const QString &path) override { fileName = path; }
    void Beep() override { Log(QStringLiteral("beep")); ++beeps; }

    QStringList Captions() const { return Matching(QStringLiteral("caption:")); }
    QStringList Statuses() const { return Matching(QStringLiteral("status:")); }
    int Count(Lamp value) const { return int(std::count(lamps.begin(), lamps.end(), value)); }

    QStringList log;
    QString caption, status, percentage, fileName;
    QStringList percentages, errorLines, descriptionLines;
    std::vector<Lamp> lamps;
    Lamp lamp = Lamp::Off;
    bool stopEnabled = false, blinking = false, errorIcon = false;
    int progressMaximum = 100, position = 0, beeps = 0;
    std::function<void()> onStep;

private:
    void Step()
    {
        if (onStep)
            onStep();
    }
    void Log(const QString &entry) { log << entry; }
    QStringList Matching(const QString &prefix) const
    {
        QStringList out;
        for (const QString &entry : log)
            if (entry.startsWith(prefix))
                out << entry.mid(prefix.size());
        return out;
    }
};
