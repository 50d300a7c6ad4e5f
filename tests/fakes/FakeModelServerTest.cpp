#include "tests/support/FakeModelServer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <httplib.h>

#include <string>
#include <vector>

namespace vellora::test {
namespace {

using ::testing::ElementsAre;

// A model request to the server at 127.0.0.1:port.
httplib::Result post(int port, const std::string& body) {
  httplib::Client client("127.0.0.1", port);
  return client.Post("/v1/responses", {{"Accept", "text/event-stream"}}, body, "application/json");
}

struct ServerSentEvent {
  std::string name;
  JSONValue data;
};

// The events of a text/event-stream body: "event: NAME" and "data: JSON" lines, blank-line
// separated.
std::vector<ServerSentEvent> eventsOf(const httplib::Result& response) {
  std::vector<ServerSentEvent> events;
  if (!response) return events;
  std::string_view body = response->body;
  ServerSentEvent event;
  while (!body.empty()) {
    const std::size_t end = body.find('\n');
    const std::string_view line = body.substr(0, end);
    body.remove_prefix(end == std::string_view::npos ? body.size() : end + 1);
    if (line.starts_with("event: ")) {
      event.name = line.substr(7);
    } else if (line.starts_with("data: ")) {
      event.data = JSONValue::parse(line.substr(6));
    } else if (line.empty()) {
      events.push_back(event);
      event = {};
    }
  }
  return events;
}

std::vector<std::string> namesOf(const std::vector<ServerSentEvent>& events) {
  std::vector<std::string> names;
  for (const ServerSentEvent& event : events) {
    EXPECT_EQ(event.data.subscript("type") ? *event.data.subscript("type") : JSONValue(),
              JSONValue(event.name))
        << "each event names its type in the data too";
    names.push_back(event.name);
  }
  return names;
}

std::string deltasOf(const std::vector<ServerSentEvent>& events) {
  std::string text;
  for (const ServerSentEvent& event : events) {
    if (event.name == "response.output_text.delta")
      text += *event.data.subscript("delta")->stringValue();
  }
  return text;
}

TEST(FakeModelServerTest, streamsEachStepOfItsScenarioAndRepeatsTheLast) {
  FakeModelServer server(FakeModelServer::scenario({
      FakeModelServer::answer({"Hel", "lo ", "\"world\"/\n"}),
      FakeModelServer::httpError(400, "Bad prompt."),
      FakeModelServer::failed("The model is on fire."),
      FakeModelServer::truncated({"Half"}),
  }));

  const httplib::Result answered = post(server.port(), R"({"input":"first"})");
  ASSERT_TRUE(answered) << httplib::to_string(answered.error());
  EXPECT_EQ(answered->status, 200);
  EXPECT_EQ(answered->get_header_value("Content-Type"), "text/event-stream");
  std::vector<ServerSentEvent> events = eventsOf(answered);
  EXPECT_THAT(
      namesOf(events),
      ElementsAre("response.created", "response.output_item.added", "response.output_text.delta",
                  "response.output_text.delta", "response.output_text.delta",
                  "response.output_item.done", "response.completed"));
  EXPECT_EQ(deltasOf(events), "Hello \"world\"/\n");
  ASSERT_EQ(events.size(), 7u);
  const JSONValue* doneContent = events[5].data.subscript("item")->subscript("content");
  EXPECT_EQ(*(*doneContent->arrayValue())[0].subscript("text"), JSONValue("Hello \"world\"/\n"));
  EXPECT_NE(events[6].data.subscript("response")->subscript("usage"), nullptr);

  const httplib::Result refused = post(server.port(), R"({"input":"second"})");
  ASSERT_TRUE(refused) << httplib::to_string(refused.error());
  EXPECT_EQ(refused->status, 400);
  const JSONValue errorBody = JSONValue::parse(refused->body);
  EXPECT_EQ(*errorBody.subscript("error")->subscript("message"), JSONValue("Bad prompt."));

  events = eventsOf(post(server.port(), "{}"));
  EXPECT_THAT(namesOf(events), ElementsAre("response.created", "response.failed"));
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(*events[1].data.subscript("response")->subscript("error")->subscript("message"),
            JSONValue("The model is on fire."));

  for (int repeat = 0; repeat < 2; ++repeat) {
    events = eventsOf(post(server.port(), "{}"));
    EXPECT_THAT(namesOf(events), ElementsAre("response.created", "response.output_item.added",
                                             "response.output_text.delta"));
    EXPECT_EQ(deltasOf(events), "Half");
  }

  const std::vector<JSONValue> requests = server.recordedRequests();
  ASSERT_EQ(requests.size(), 5u);
  EXPECT_EQ(*requests[0].subscript("path"), JSONValue("/v1/responses"));
  EXPECT_EQ(*requests[0].subscript("body"), JSONValue::parse(R"({"input":"first"})"));
  EXPECT_EQ(*requests[1].subscript("body"), JSONValue::parse(R"({"input":"second"})"));
}

TEST(FakeModelServerTest, answersOtherRequestsWithNotFoundWithoutUsingAStep) {
  FakeModelServer server(FakeModelServer::scenario({FakeModelServer::answer({"Only"})}));
  httplib::Client client("127.0.0.1", server.port());
  const httplib::Result models = client.Get("/v1/models");
  ASSERT_TRUE(models) << httplib::to_string(models.error());
  EXPECT_EQ(models->status, 404);
  const httplib::Result other = client.Post("/v1/chat/completions", "{}", "application/json");
  ASSERT_TRUE(other) << httplib::to_string(other.error());
  EXPECT_EQ(other->status, 404);
  EXPECT_EQ(deltasOf(eventsOf(post(server.port(), "{}"))), "Only");
  EXPECT_EQ(server.recordedRequests().size(), 1u);
}

TEST(FakeModelServerTest, aClosedPortRefusesConnections) {
  EXPECT_EQ(post(FakeModelServer::closedPort(), "{}").error(), httplib::Error::Connection);
}

}  // namespace
}  // namespace vellora::test
