#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <span>
#include <string>
#include <vector>

#include "modbus/byte_link.h"

namespace fc {

// What a line without transaction ids has shown of itself: the replies it
// carried lately and the requests they answered, the replies attempts that
// failed may still be owed, and how long the unit takes to answer. A serial
// reply names no request, so this is the evidence the engine judges one by:
// a frame byte for byte like a reply that answered another request is that
// reply come again, not this request's answer.
class LineGuard {
  public:
    using Bytes = std::vector<uint8_t>;

    // A reply taken for `request` (both in RTU form, no check bytes), whose
    // first byte came `answerTime` after the request went out.
    void NoteAnswer(std::span<const uint8_t> request, std::span<const uint8_t> reply,
                    LinkInstant at, std::chrono::microseconds answerTime);
    // Whether `reply` is one this line carried lately for another request
    // and never for this one.
    bool LooksRepeated(std::span<const uint8_t> request, std::span<const uint8_t> reply,
                       LinkInstant now) const;
    // A suspected repeat is held back for the answer behind it until then:
    // twice the slowest answer this line gave to the same request (or, for
    // a request it never answered, to any) after the request went out, or
    // the attempt's deadline while no answer has been timed. A unit answers
    // each kind of request in its own time: one slow flash commit says
    // nothing of how soon a status read is answered.
    LinkInstant HoldUntil(std::span<const uint8_t> request, LinkInstant sent,
                          LinkInstant deadline) const;

    // An attempt sent at `sent` went unanswered: its reply may come until
    // `sent` + 2 x Timeout, the bound libmodbus also waits out after an
    // error. Once a later attempt of the same request is answered, the
    // unit's own answer times tell how late the lost one could still come.
    // A gateway that gave up on its unit says nothing of the unit's answer
    // times: what it leaves owed is waited for until it comes.
    void NoteOwed(std::span<const uint8_t> request, LinkInstant sent, std::chrono::seconds timeout,
                  bool gateway);
    void NoteRetryAnswered(std::span<const uint8_t> request);
    // One of the replies owed has come (and was dropped); when all have,
    // nothing is owed any more.
    void NoteOwedReplyCame();
    // Until when a request other than `request` must wait; the epoch when
    // nothing is owed to it.
    LinkInstant OwedUntil(std::span<const uint8_t> request) const;
    bool Owes() const { return owedUntil_ != LinkInstant{}; }
    const Bytes& OwedRequest() const { return owedRequest_; }
    void ClearOwed();

    std::chrono::microseconds SlowestAnswer() const { return slowest_; }

    // The record kept beside the line for the next driver that opens it,
    // and taking one in (merged with what this driver knows). `line` tells
    // the line's speed: a record of another speed carries nothing useful.
    std::string Record(LinkInstant now, int line) const;
    void Restore(const std::string& record, LinkInstant now, int line);
    void Forget();

  private:
    struct Answer {
        LinkInstant at;
        Bytes request;  // what the reply depends on (ReplyKey)
        Bytes reply;
        std::chrono::microseconds answerTime{};
    };
    void Expire(LinkInstant now);

    std::deque<Answer> answers_;
    LinkInstant owedUntil_{};
    Bytes owedRequest_;
    LinkInstant owedSent_{};
    int owedReplies_ = 0;
    bool owedByGateway_ = false;
    std::chrono::microseconds slowest_{};
    bool timed_ = false;
};

}  // namespace fc
