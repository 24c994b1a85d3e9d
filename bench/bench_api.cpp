// GET /kivd/status from 20 concurrent keep-alive clients against an APIServer
// on loopback: requests per second and the 99th-percentile latency.
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "APIServer.h"
#include "commands/CommandManager.h"

namespace {

size_t Discard(char*, size_t size, size_t n, void*) { return size * n; }

void BM_StatusKeepAlive20(benchmark::State& state) {
    CommandManager::INSTANCE.Init();
    APIServer server;
    if (!server.Init(0)) {
        state.SkipWithError("cannot start the API server");
        return;
    }
    std::string url = "http://127.0.0.1:" + std::to_string(server.Port()) + "/kivd/status";
    const int clients = 20, perClient = 250;
    for (auto _ : state) {
        std::vector<std::vector<double>> lat(clients);
        auto start = std::chrono::steady_clock::now();
        std::vector<std::thread> threads;
        for (int c = 0; c < clients; c++) {
            threads.emplace_back([&, c] {
                CURL* h = curl_easy_init();
                curl_easy_setopt(h, CURLOPT_URL, url.c_str());
                curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
                curl_easy_setopt(h, CURLOPT_TIMEOUT, 10L);
                curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, Discard);
                for (int i = 0; i < perClient; i++) {
                    auto t0 = std::chrono::steady_clock::now();
                    curl_easy_perform(h);  // one handle: the connection is kept alive
                    lat[c].push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count());
                }
                curl_easy_cleanup(h);
            });
        }
        for (auto& t : threads) {
            t.join();
        }
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::vector<double> all;
        for (auto& l : lat) {
            all.insert(all.end(), l.begin(), l.end());
        }
        std::sort(all.begin(), all.end());
        state.counters["req_per_s"] = all.size() / seconds;
        state.counters["p99_us"] = all[(size_t)(all.size() * 0.99)];
        state.counters["p50_us"] = all[all.size() / 2];
    }
    CommandManager::INSTANCE.Cleanup();
}
BENCHMARK(BM_StatusKeepAlive20)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
