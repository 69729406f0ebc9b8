#pragma once
// The window side of a session: what the session reports on its worker comes
// out here as queued Qt signals on the GUI thread, in the order it came.

#include <QObject>

#include "core/session/session.h"

Q_DECLARE_METATYPE(ReaderSnapshot)
Q_DECLARE_METATYPE(UpdateProgress)
Q_DECLARE_METATYPE(UpdateResult)
Q_DECLARE_METATYPE(SettingsEvent)

class SessionBridge : public QObject, public SessionObserver {
    Q_OBJECT
public:
    explicit SessionBridge(QObject *parent = nullptr);

    // On the worker.
    void ReaderChanged(const ReaderSnapshot &reader) override;
    void UpdateChanged(const UpdateProgress &progress) override;
    void UpdateEnded(const UpdateResult &result) override;
    void SettingsChanged(const SettingsEvent &event) override;

signals:
    void readerChanged(const ReaderSnapshot &reader);
    void updateChanged(const UpdateProgress &progress);
    void updateEnded(const UpdateResult &result);
    void settingsChanged(const SettingsEvent &event);
};
