// One exchange with the test service over a fresh connection, in clear and inside TLS: the
// difference is what TLS costs each exchange (mostly the handshake). bench/run starts the two
// services and names them in KESTOVA_BENCH_HTTP and KESTOVA_BENCH_HTTPS, with the authority the
// https one's certificate comes from in KESTOVA_BENCH_CA.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>

#include "service/HttpExchange.h"
#include "service/RequestLines.h"
#include "service/ServiceEndpoint.h"

namespace {

std::optional<kestova::ServiceEndpoint> endpointFrom(const char* variable) {
    const char* text = std::getenv(variable);
    if (text == nullptr) {
        return std::nullopt;
    }
    std::optional<kestova::ServiceEndpoint> endpoint = kestova::parseServiceEndpoint(text);
    if (endpoint && endpoint->https) {
        if (const char* authority = std::getenv("KESTOVA_BENCH_CA")) {
            endpoint->authorityFile = authority;
        }
    }
    return endpoint;
}

void exchangeWith(benchmark::State& state, const char* variable) {
    const std::optional<kestova::ServiceEndpoint> endpoint = endpointFrom(variable);
    if (!endpoint) {
        state.SkipWithError("no service named");
        return;
    }
    for (auto _ : state) {
        kestova::ExchangeOutcome outcome =
            kestova::exchangeWithService(*endpoint, kestova::requests::kVersionCheck);
        if (outcome.status != kestova::ExchangeStatus::Replied || outcome.reply.empty()) {
            state.SkipWithError("the service did not reply");
            return;
        }
        benchmark::DoNotOptimize(outcome.reply);
    }
}

void ExchangeInClear(benchmark::State& state) {
    exchangeWith(state, "KESTOVA_BENCH_HTTP");
}
void ExchangeInTls(benchmark::State& state) {
    exchangeWith(state, "KESTOVA_BENCH_HTTPS");
}

}  // namespace

BENCHMARK(ExchangeInClear)->Unit(benchmark::kMillisecond);
BENCHMARK(ExchangeInTls)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
