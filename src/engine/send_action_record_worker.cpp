#include "engine/send_action_record_worker.h"

// STUB: to be written
CSendActionRecordWorker::~CSendActionRecordWorker() { StopForDestruction(); }
void CSendActionRecordWorker::Push(ActionRecord) {}
void CSendActionRecordWorker::RequestStop() {}
void CSendActionRecordWorker::DoWork() {}
void ReportSuccess(std::int32_t, const std::string&, std::int64_t, std::int32_t) {}
void ReportFailure(std::int32_t, const std::string&, std::int32_t, const std::string&) {}
