#include "tests/support/FakeModelServer.h"

#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace vellora::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

// Sends one request to 127.0.0.1:port over a plain socket and returns everything the server
// wrote until it closed the connection.
std::string httpExchange(int port, const std::string& request) {
  const int connection = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  if (::connect(connection, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(connection);
    return "connect failed";
  }
  std::string_view rest = request;
  while (!rest.empty()) {
    const ssize_t count = ::send(connection, rest.data(), rest.size(), 0);
    if (count <= 0) break;
    rest.remove_prefix(static_cast<std::size_t>(count));
  }
  std::string response;
  char buffer[4096];
  while (true) {
    const ssize_t count = ::recv(connection, buffer, sizeof buffer, 0);
    if (count <= 0) break;
    response.append(buffer, static_cast<std::size_t>(count));
  }
  ::close(connection);
  return response;
}

std::string post(int port, const std::string& body) {
  return httpExchange(port,
                      "POST /v1/responses HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                      "Content-Type: application/json\r\nAccept: text/event-stream\r\n"
                      "Content-Length: " +
                          std::to_string(body.size()) + "\r\n\r\n" + body);
}

struct ServerSentEvent {
  std::string name;
  JSONValue data;
};

// The events of a text/event-stream body: "event: NAME" and "data: JSON" lines, blank-line
// separated.
std::vector<ServerSentEvent> eventsOf(const std::string& response) {
  std::vector<ServerSentEvent> events;
  std::size_t position = response.find("\r\n\r\n");
  if (position == std::string::npos) return events;
  std::string_view body = std::string_view(response).substr(position + 4);
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

  const std::string answered = post(server.port(), R"({"input":"first"})");
  EXPECT_THAT(answered, StartsWith("HTTP/1.1 200 OK\r\n"));
  EXPECT_THAT(answered, HasSubstr("Content-Type: text/event-stream\r\n"));
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

  const std::string refused = post(server.port(), R"({"input":"second"})");
  EXPECT_THAT(refused, StartsWith("HTTP/1.1 400 Bad Request\r\n"));
  const JSONValue errorBody = JSONValue::parse(refused.substr(refused.find("\r\n\r\n") + 4));
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
  EXPECT_THAT(httpExchange(server.port(), "GET /v1/models HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"),
              StartsWith("HTTP/1.1 404 Not Found\r\n"));
  EXPECT_THAT(httpExchange(server.port(), "garbage\r\n\r\n"), StartsWith("HTTP/1.1 400 "));
  EXPECT_EQ(deltasOf(eventsOf(post(server.port(), "{}"))), "Only");
  EXPECT_EQ(server.recordedRequests().size(), 1u);
}

TEST(FakeModelServerTest, aClosedPortRefusesConnections) {
  EXPECT_EQ(post(FakeModelServer::closedPort(), "{}"), "connect failed");
}

}  // namespace
}  // namespace vellora::test
