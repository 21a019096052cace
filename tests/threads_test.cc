// Separate engines on separate threads at the same time: each parses its own
// slice of the bundled lists, with rules whose options nobody knows, and
// then matches real requests. The engines share only the read-only tables
// and the process-wide record of unknown options. Run under
// ThreadSanitizer, which reports any unguarded access to shared state; here
// the answers must also be those of the same engine built on one thread, and
// every unknown option must be reported exactly once. And lookups on one
// host set that keeps its rules as image records, which make its chains as
// they find them, after a load that read the set in two halves at once.

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "engine/tessul_client.h"
#include "filter/url_text.h"
#include "hashing/hash_set.h"
#include "image_test_support.h"
#include "engine_answers.h"
#include "filter/unknown_options.h"
#include "test_support.h"

namespace tessul {
namespace {

using testing::Answer;
using testing::ask;
using testing::Request;

constexpr int kThreads = 4;
constexpr int kLineStride = 8;  // each thread parses every 8th line
constexpr int kUnknownOptions = 20;

// Unknown options used by every thread, so that they race to report them,
// and one per thread.
std::string sharedOption(int i) { return "threads-test-shared-" + std::to_string(i); }
std::string ownOption(int thread) {
  return "threads-test-own-" + std::to_string(thread);
}

std::string listOfThread(const std::string& lists, int thread) {
  std::string list;
  size_t lineStart = 0;
  for (int line = 0; lineStart < lists.size(); ++line) {
    size_t lineEnd = lists.find('\n', lineStart);
    if (lineEnd == std::string::npos) lineEnd = lists.size();
    if (line % kLineStride == thread) {
      list.append(lists, lineStart, lineEnd - lineStart + 1);
    }
    lineStart = lineEnd + 1;
  }
  for (int i = 0; i < kUnknownOptions; ++i) {
    list += "\n||unknown-" + std::to_string(i) + ".test^$script," +
            sharedOption(i);
  }
  return list + "\n/threads-own-rule/$" + ownOption(thread) + "\n";
}

std::vector<Answer> answersOf(TessulClient& engine,
                              const std::vector<Request>& requests) {
  std::vector<Answer> answers;
  for (const Request& request : requests) {
    answers.push_back(
        ask(engine, request.url.c_str(),
            testing::requestTypeOption(request.type),
            request.pageHost.empty() ? nullptr : request.pageHost.c_str()));
  }
  return answers;
}

int occurrences(const std::string& text, const std::string& line) {
  int count = 0;
  for (size_t at = text.find(line); at != std::string::npos;
       at = text.find(line, at + 1)) {
    ++count;
  }
  return count;
}

TEST(ThreadsTest, SeparateEnginesParseAndMatchAtTheSameTime) {
  const std::string lists = testing::bundledLists();
  const std::vector<Request> requests = testing::readRequests("pageloads.tsv");
  std::vector<std::string> threadLists;
  for (int t = 0; t < kThreads; ++t) {
    threadLists.push_back(listOfThread(lists, t));
  }

  std::vector<std::vector<Answer>> answers(kThreads);
  std::atomic<int> ready{0};
  ::testing::internal::CaptureStdout();
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      // Start together, so that the parses overlap.
      ready.fetch_add(1);
      while (ready.load() < kThreads) std::this_thread::yield();
      TessulClient engine;
      engine.parse(threadLists[t].c_str());
      answers[t] = answersOf(engine, requests);
    });
  }
  for (std::thread& thread : threads) thread.join();
  const std::string output = ::testing::internal::GetCapturedStdout();

  int blocked = 0;
  for (int t = 0; t < kThreads; ++t) {
    TessulClient alone;
    alone.parse(threadLists[t].c_str());
    EXPECT_TRUE(answersOf(alone, requests) == answers[t]) << "thread " << t;
    for (const Answer& answer : answers[t]) blocked += answer.blocked;
    EXPECT_TRUE(unknownOptions.contains(ownOption(t)));
    EXPECT_EQ(occurrences(output, ownOption(t) + "\n"), 1) << output;
  }
  EXPECT_GT(blocked, 0);
  for (int i = 0; i < kUnknownOptions; ++i) {
    EXPECT_TRUE(unknownOptions.contains(sharedOption(i)));
    EXPECT_EQ(occurrences(output, "option: " + sharedOption(i) + "\n"), 1)
        << output;
  }
}

// Every request host of the page loads, looked up by every thread in one
// host set just read from the bundled lists' image: the threads race to make
// the same chains.
TEST(ThreadsTest, LookupsOfOneKeptHostSetRunTogether) {
  TessulClient parsed;
  ::testing::internal::CaptureStdout();
  parsed.parse(testing::bundledLists().c_str());
  ::testing::internal::GetCapturedStdout();
  const testing::ExactCopy image(testing::savedImage(parsed));
  TessulClient loaded;
  ASSERT_TRUE(loaded.deserialize(image.data(), image.size()));
  const HashSet<Filter>& set = *loaded.hostBlockSet;
  ASSERT_TRUE(set.keepsRecords());

  std::vector<std::string> hosts;
  for (const Request& request : testing::readRequests("pageloads.tsv")) {
    int length = 0;
    const char* host = getUrlHost(request.url.c_str(), &length);
    hosts.emplace_back(host, length);
  }
  auto found = [&] {
    int count = 0;
    for (const std::string& host : hosts) {
      const Filter probe(host.c_str(), static_cast<int>(host.size()), nullptr,
                         host.c_str(), static_cast<int>(host.size()), nullptr,
                         0);
      count += set.Find(probe) != nullptr;
    }
    return count;
  };
  std::vector<int> counts(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] { counts[t] = found(); });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_GT(counts[0], 0);
  for (int count : counts) EXPECT_EQ(count, counts[0]);
  EXPECT_EQ(found(), counts[0]);
}

}  // namespace
}  // namespace tessul
