#include "modbus/line_guard.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

namespace fc {

namespace {

using std::chrono::microseconds;

// How long a reply taken is remembered as one that may come again, and how
// many are: a repeat seen later than this is taken for an answer. The cost
// of remembering longer is only a short hold when two requests happen to
// get byte-identical replies.
constexpr auto kRepeatHorizon = std::chrono::seconds(10);
constexpr size_t kAnswersKept = 32;
// On top of twice the slowest answer: the scheduling of both ends.
constexpr auto kAnswerMargin = std::chrono::milliseconds(20);

bool Same(std::span<const uint8_t> a, std::span<const uint8_t> b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end());
}

// What a reply to `request` depends on. A block write is answered with its
// place and count only, so every write of the same block (each sector of a
// download through one buffer) gets the same reply: those writes count as
// one request here, else each of them would hold its own answer as a repeat.
std::span<const uint8_t> ReplyKey(std::span<const uint8_t> request) {
    constexpr uint8_t kWriteCoils = 15, kWriteRegisters = 16;
    constexpr size_t kBlockHead = 6;  // unit, function, address, count
    const bool block =
        request.size() > kBlockHead && (request[1] == kWriteCoils || request[1] == kWriteRegisters);
    return block ? request.first(kBlockHead) : request;
}

bool SameRequest(std::span<const uint8_t> a, std::span<const uint8_t> b) {
    return Same(ReplyKey(a), ReplyKey(b));
}

long long Micros(LinkInstant at) {
    return std::chrono::duration_cast<microseconds>(at.time_since_epoch()).count();
}

LinkInstant FromMicros(long long value) {
    return LinkInstant(std::chrono::duration_cast<LinkClock::duration>(microseconds(value)));
}

std::string Hex(std::span<const uint8_t> bytes) {
    std::string text;
    char pair[3];
    for (uint8_t byte : bytes) {
        std::snprintf(pair, sizeof pair, "%02x", byte);
        text += pair;
    }
    return text.empty() ? "-" : text;
}

bool FromHex(const std::string& text, LineGuard::Bytes& bytes) {
    bytes.clear();
    if (text == "-")
        return true;
    if (text.size() % 2 != 0 || text.size() > 1024)
        return false;
    for (size_t i = 0; i < text.size(); i += 2) {
        unsigned value = 0;
        if (std::sscanf(text.c_str() + i, "%2x", &value) != 1)
            return false;
        bytes.push_back(static_cast<uint8_t>(value));
    }
    return true;
}

}  // namespace

void LineGuard::NoteAnswer(std::span<const uint8_t> request, std::span<const uint8_t> reply,
                           LinkInstant at, microseconds answerTime) {
    Expire(at);
    const auto key = ReplyKey(request);
    answers_.push_back(
        {at, Bytes(key.begin(), key.end()), Bytes(reply.begin(), reply.end()), answerTime});
    if (answers_.size() > kAnswersKept)
        answers_.pop_front();
    slowest_ = std::max(slowest_, answerTime);
    timed_ = true;
}

bool LineGuard::LooksRepeated(std::span<const uint8_t> request, std::span<const uint8_t> reply,
                              LinkInstant now) const {
    bool carriedForAnother = false;
    for (const Answer& answer : answers_) {
        if (now - answer.at > kRepeatHorizon || !Same(answer.reply, reply))
            continue;
        if (SameRequest(answer.request, request))
            return false;
        carriedForAnother = true;
    }
    return carriedForAnother;
}

LinkInstant LineGuard::HoldUntil(std::span<const uint8_t> request, LinkInstant sent,
                                 LinkInstant deadline) const {
    microseconds slowest{-1};
    for (const Answer& answer : answers_)
        if (SameRequest(answer.request, request))
            slowest = std::max(slowest, answer.answerTime);
    if (slowest < microseconds{} && !timed_)
        return deadline;
    return std::min(deadline,
                    sent + 2 * (slowest < microseconds{} ? slowest_ : slowest) + kAnswerMargin);
}

void LineGuard::NoteOwed(std::span<const uint8_t> request, LinkInstant sent,
                         std::chrono::seconds timeout, bool gateway) {
    if (!Same(request, owedRequest_))
        owedReplies_ = 0;
    owedUntil_ = std::max(owedUntil_, sent + 2 * timeout);
    owedRequest_.assign(request.begin(), request.end());
    owedSent_ = sent;
    ++owedReplies_;
    owedByGateway_ = owedByGateway_ || gateway;
}

void LineGuard::NoteRetryAnswered(std::span<const uint8_t> request) {
    if (!Owes() || !Same(request, owedRequest_) || !timed_ || owedByGateway_)
        return;
    owedUntil_ = std::min(owedUntil_, owedSent_ + 2 * slowest_ + kAnswerMargin);
}

void LineGuard::NoteOwedReplyCame() {
    if (--owedReplies_ <= 0)
        ClearOwed();
}

LinkInstant LineGuard::OwedUntil(std::span<const uint8_t> request) const {
    return Same(request, owedRequest_) ? LinkInstant{} : owedUntil_;
}

void LineGuard::ClearOwed() {
    owedUntil_ = {};
    owedRequest_.clear();
    owedSent_ = {};
    owedReplies_ = 0;
    owedByGateway_ = false;
}

void LineGuard::Expire(LinkInstant now) {
    while (!answers_.empty() && now - answers_.front().at > kRepeatHorizon)
        answers_.pop_front();
}

void LineGuard::Forget() {
    answers_.clear();
    ClearOwed();
    slowest_ = {};
    timed_ = false;
}

// One fact a line: "line SPEED", "slowest US", "owed UNTIL SENT COUNT REQUEST",
// "answer AT US REQUEST REPLY" (US: how soon it came), times on the link's
// clock in microseconds.
std::string LineGuard::Record(LinkInstant now, int line) const {
    const bool recent = std::any_of(answers_.begin(), answers_.end(),
                                    [&](const Answer& answer) { return now - answer.at <= kRepeatHorizon; });
    if (!recent && owedUntil_ <= now)
        return "";
    std::ostringstream out;
    out << "line " << line << "\nslowest " << slowest_.count() << "\n";
    if (owedUntil_ > now)
        out << "owed " << Micros(owedUntil_) << " " << Micros(owedSent_) << " " << owedReplies_
            << " " << Hex(owedRequest_) << "\n";
    for (const Answer& answer : answers_)
        if (now - answer.at <= kRepeatHorizon)
            out << "answer " << Micros(answer.at) << " " << answer.answerTime.count() << " "
                << Hex(answer.request) << " " << Hex(answer.reply) << "\n";
    return out.str();
}

void LineGuard::Restore(const std::string& record, LinkInstant now, int line) {
    std::istringstream in(record);
    std::string kind;
    int speed = -1;
    if (!(in >> kind >> speed) || kind != "line" || speed != line)
        return;
    while (in >> kind) {
        long long a = 0, b = 0;
        std::string first, second;
        if (kind == "slowest" && in >> a) {
            slowest_ = std::max(slowest_, microseconds(std::clamp(a, 0LL, 3'600'000'000LL)));
            timed_ = timed_ || a > 0;
        } else if (int replies = 0; kind == "owed" && in >> a >> b >> replies >> first) {
            Bytes request;
            if (FromHex(first, request) && FromMicros(a) > std::max(now, owedUntil_)) {
                owedUntil_ = FromMicros(a);
                owedSent_ = FromMicros(b);
                owedRequest_ = request;
                owedReplies_ = std::clamp(replies, 1, 1000);
            }
        } else if (kind == "answer" && in >> a >> b >> first >> second) {
            Answer answer{FromMicros(a), {}, {}, microseconds(std::clamp(b, 0LL, 3'600'000'000LL))};
            const bool known = std::any_of(answers_.begin(), answers_.end(),
                                           [&](const Answer& kept) { return kept.at == answer.at; });
            if (!known && FromHex(first, answer.request) && FromHex(second, answer.reply) &&
                now - answer.at <= kRepeatHorizon)
                answers_.push_back(std::move(answer));
        } else {
            return;
        }
    }
    std::sort(answers_.begin(), answers_.end(),
              [](const Answer& x, const Answer& y) { return x.at < y.at; });
    while (answers_.size() > kAnswersKept)
        answers_.pop_front();
}

}  // namespace fc
