#include "gui/session_bridge.h"

SessionBridge::SessionBridge(QObject *parent) : QObject(parent)
{
    static const bool registered = [] {
        qRegisterMetaType<ReaderSnapshot>();
        qRegisterMetaType<UpdateProgress>();
        qRegisterMetaType<UpdateResult>();
        qRegisterMetaType<SettingsEvent>();
        return true;
    }();
    (void)registered;
}

// The signals cross to the bridge's thread: the receivers connect with
// Qt::QueuedConnection, so the worker never waits for the window.
void SessionBridge::ReaderChanged(const ReaderSnapshot &reader) { emit readerChanged(reader); }
void SessionBridge::UpdateChanged(const UpdateProgress &progress) { emit updateChanged(progress); }
void SessionBridge::UpdateEnded(const UpdateResult &result) { emit updateEnded(result); }
void SessionBridge::SettingsChanged(const SettingsEvent &event) { emit settingsChanged(event); }
