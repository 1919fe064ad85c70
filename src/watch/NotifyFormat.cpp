#include "watch/NotifyFormat.h"

#include <cctype>
#include <utility>

#include "shell/Utf8.h"
#include "watch/RunReport.h"

namespace ostrelo {

namespace {

constexpr std::pair<const char*, ReceiverKind> kPrefixes[] = {
    {"slack", ReceiverKind::Slack},      {"discord", ReceiverKind::Discord}, {"teams", ReceiverKind::Teams},
    {"gchat", ReceiverKind::GoogleChat}, {"ntfy", ReceiverKind::Ntfy},       {"gotify", ReceiverKind::Gotify},
};
// Discord takes at most 2000 characters of content; bytes are counted, which is safe.
constexpr size_t kDiscordContentBytes = 2000;

std::string Lower(const std::string& s) {
  std::string lower;
  for (const char c : s) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

// The prefix of "prefix+http://..." or "prefix+https://...", empty when there is none.
std::string PrefixOf(const std::string& url) {
  const size_t plus = url.find('+');
  if (plus == std::string::npos) return {};
  const std::string rest = Lower(url.substr(plus + 1, 8));
  if (rest.rfind("http://", 0) != 0 && rest.rfind("https://", 0) != 0) return {};
  for (size_t i = 0; i < plus; ++i) {
    if (!std::isalnum(static_cast<unsigned char>(url[i]))) return {};
  }
  return url.substr(0, plus);
}

bool Urgent(const std::string& event) {
  return event == "watchdog" || event == "disk-low" ||
         (event.size() > 5 && event.compare(event.size() - 5, 5, "-lost") == 0);
}

std::string Title(const RunEvent& event) { return "Ostrelo: " + event.name; }

std::string Cut(std::string text, size_t bytes) {
  if (text.size() <= bytes) return text;
  size_t end = bytes;
  while (end > 0 && IsContinuationByte(text[end])) --end;
  text.resize(end);
  return text;
}

std::string Object(const char* name, const std::string& text) {
  return "{" + JsonText(name) + ":" + JsonText(text) + "}";
}

}  // namespace

NotifyTarget ReadNotifyTarget(const std::string& target) {
  const std::string prefix = Lower(PrefixOf(target));
  for (const auto& [name, receiver] : kPrefixes) {
    if (prefix == name) return {receiver, target.substr(prefix.size() + 1)};
  }
  return {ReceiverKind::Json, target};
}

std::string UnknownReceiver(const std::string& url) {
  const std::string prefix = PrefixOf(url);
  if (prefix.empty()) return {};
  return ReadNotifyTarget(url).receiver == ReceiverKind::Json ? prefix : "";
}

namespace {

// The body and the header lines as the receiver takes them.
std::pair<std::string, std::vector<std::string>> Shaped(ReceiverKind receiver, const RunEvent& event) {
  const std::string json = "Content-Type: application/json";
  switch (receiver) {
    case ReceiverKind::Slack: return {Object("text", event.text), {json}};
    case ReceiverKind::Discord: return {Object("content", Cut(event.text, kDiscordContentBytes)), {json}};
    case ReceiverKind::Teams:
      // A workflow's "post to a channel" takes a message whose attachment is an Adaptive Card.
      return {R"({"type":"message","attachments":[{"contentType":"application/vnd.microsoft.card.adaptive",)"
              R"("contentUrl":null,"content":{"$schema":"http://adaptivecards.io/schemas/adaptive-card.json",)"
              R"("type":"AdaptiveCard","version":"1.4","body":[{"type":"TextBlock","weight":"Bolder","wrap":true,)"
              R"("text":)" +
                  JsonText(Title(event)) + R"(},{"type":"TextBlock","wrap":true,"text":)" + JsonText(event.text) +
                  "}]}}]}",
              {json}};
    case ReceiverKind::GoogleChat: return {Object("text", event.text), {json + "; charset=UTF-8"}};
    case ReceiverKind::Ntfy:
      return {event.text,
              {"Content-Type: text/plain; charset=utf-8", "Title: " + Title(event),
               std::string("Priority: ") + (Urgent(event.name) ? "4" : "3")}};
    case ReceiverKind::Gotify:
      return {"{" + JsonText("title") + ":" + JsonText(Title(event)) + "," + JsonText("message") + ":" +
                  JsonText(event.text) + "," + JsonText("priority") + ":" + (Urgent(event.name) ? "8" : "4") + "}",
              {json}};
    case ReceiverKind::Json: break;
  }
  // A document per line for a command reading its input.
  return {event.json + "\n", {json}};
}

}  // namespace

Posting PostingFor(ReceiverKind receiver, const RunEvent& event) {
  auto [body, headers] = Shaped(receiver, event);
  // Every receiver may drop the copies of a retry by it, whatever its body holds.
  if (!event.id.empty()) headers.push_back("X-Ostrelo-Event-Id: " + event.id);
  return {std::move(body), std::move(headers), event.id};
}

}  // namespace ostrelo
