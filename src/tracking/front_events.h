#pragma once

#include "tracking/task_view_info.h"

#include <QEvent>
#include <QString>

#include <memory>

// Names of the events the trackers, listings and task lists post to their receivers. Each name
// is registered once as a Qt event type; every module asks FrontEventType for the same name.
inline constexpr char kMsgTaskLoaded[] = "parvex_msg_task_loaded";
inline constexpr char kMsgTaskChanged[] = "parvex_msg_task_changed";
inline constexpr char kMsgSubTaskChanged[] = "parvex_msg_sub_task_changed";
inline constexpr char kMsgItemCountChanged[] = "parvex_msg_item_count_changed";
inline constexpr char kMsgListResult[] = "parvex_msg_list_result";

// The event type registered for `name` (registered on first use; thread-safe).
QEvent::Type FrontEventType(const char* name);

// An event without payload ("parvex_msg_task_loaded", "parvex_msg_item_count_changed").
class CFrontEvent : public QEvent {
public:
    explicit CFrontEvent(const char* name) : QEvent(FrontEventType(name)) {}
};

// A changed task or sub-task: its key (task id or sub-task key) and its record, owned by the
// event until a receiver takes it.
class CTaskChangedEvent : public QEvent {
public:
    CTaskChangedEvent(const char* name, QString key, std::unique_ptr<CTaskViewInfo> record)
        : QEvent(FrontEventType(name)), m_key(std::move(key)), m_record(std::move(record)) {}

    const QString& Key() const { return m_key; }
    const CTaskViewInfo& Record() const { return *m_record; }
    std::unique_ptr<CTaskViewInfo> TakeRecord() { return std::move(m_record); }

private:
    QString m_key;
    std::unique_ptr<CTaskViewInfo> m_record;
};
