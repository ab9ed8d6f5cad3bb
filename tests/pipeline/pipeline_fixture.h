#pragma once

#include "engine/runtime_fixture.h"
#include "pipeline/download_part_worker.h"
#include "pipeline/pipeline_workers.h"
#include "pipeline/prepare_task_worker.h"
#include "pipeline/task_file.h"
#include "service_server.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

// The engine core without its threads (see RuntimeTest) with the real download pipeline and a
// local service. Link tasks point at the service's link "P1", whose folder "Root" holds the
// scenario's items; changes the workers queue wait for Apply().
class PipelineTest : public RuntimeTest {
protected:
    static constexpr const char* kCode = "P1";

    // Starts the service with the items of "Root" (a JSON array of scenario items).
    void StartService(const std::string& rootChildren, const std::string& extraLinks = "");
    // Starts the service with only the user's storage (a JSON array of the scenario items below
    // "/") and makes it the engine's service address.
    void StartStorageService(const std::string& storageItems);
    void TearDown() override;

    // A link folder task for "Root" on the running service, Working, with the token.
    CTaskInfo AddLinkTask(const std::string& id);
    std::string DownloadUrl(const std::string& below) const;
    std::string MetadataUrl(const std::string& below) const;

    // Runs a part-download worker for [start, end) of the file, with the sub-task's validator,
    // and waits until every worker has ended; then applies what they reported.
    void RunRange(const std::string& taskId, const std::string& name, std::uint64_t start,
                  std::uint64_t end);
    bool WaitForWorkers(std::chrono::seconds limit = std::chrono::seconds(60)) const;
    std::string Expected(const std::string& name, std::uint64_t size) const;
    // Range headers of the downloads of the file, in arrival order.
    std::vector<std::string> RangesOf(const std::string& name) const;
    // Their If-Range headers (empty when none was sent).
    std::vector<std::string> IfRangesOf(const std::string& name) const;
    // The file's ETag on the service, of its current content or of the one replacing it.
    std::string ETagOf(const std::string& name, bool replaced = false) const;

    parvex_service::ServiceServer& Server() { return *m_server; }

    CPipelineWorkers m_pipeline;
    std::unique_ptr<parvex_service::ServiceServer> m_server;
    std::string m_token;

private:
    // One header of each download of the file, in arrival order.
    std::vector<std::string> DownloadHeaders(const std::string& name,
                                             const std::string& header) const;
};
