#pragma once

// For tests that link parvex_service_lib: the stand-in service on a free port.
#include "service_server.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace testing_support {

// The stand-in started with the scenario `json` on a free port over plain HTTP; null, with a
// test failure, when the scenario does not parse or the server does not start.
inline std::unique_ptr<parvex_service::ServiceServer> StartScenarioServer(const char* json) {
    parvex_service::Scenario scenario;
    std::string error;
    if (!parvex_service::ParseScenario(json, scenario, error)) {
        ADD_FAILURE() << "scenario: " << error;
        return nullptr;
    }
    auto server = std::make_unique<parvex_service::ServiceServer>(std::move(scenario));
    if (!server->Start(0, false)) {
        ADD_FAILURE() << "service: " << server->LastError();
        return nullptr;
    }
    return server;
}

} // namespace testing_support
