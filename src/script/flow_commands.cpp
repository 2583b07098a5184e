#include "script/flow_commands.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>

#include "core/app_context.h"
#include "platform/clock.h"
#include "script/flags.h"
#include "script/interpreter.h"

namespace vaxo2::script {
namespace {

using Args = std::vector<ScriptValue>;

std::optional<int64_t> intArg(const Args& args, int32_t count, int position) {
    const ScriptValue* v = argumentAt(args, count, position);
    return v ? v->toInteger() : std::nullopt;
}

// Flag, GlobalFlag and Value: an integer, a real (truncated) or a string that holds a number
// and nothing else; anything else counts as not given (so "abc" neither names flag 0 nor sets
// a flag to 0).
std::optional<int64_t> flagArg(const Args& args, int32_t count, int position) {
    const ScriptValue* v = argumentAt(args, count, position);
    if (v == nullptr) return std::nullopt;
    if (v->type != ScriptValueType::String) return v->toInteger();
    const char* text = v->text.c_str();
    const char* end = text + v->text.size();
    auto onlySpaceFrom = [end](const char* p) {
        while (p != end && std::isspace(static_cast<unsigned char>(*p)))
            ++p;
        return p == end;
    };
    char* stop = nullptr;
    errno = 0;
    const long long integer = std::strtoll(text, &stop, 0);
    if (stop != text && errno == 0 && onlySpaceFrom(stop)) return static_cast<int64_t>(integer);
    const double real = std::strtod(text, &stop);
    if (stop != text && onlySpaceFrom(stop)) return ScriptValue::makeReal(real).toInteger();
    return std::nullopt;
}

std::optional<std::string> stringArg(const Args& args, int32_t count, int position) {
    const ScriptValue* v = argumentAt(args, count, position);
    return v ? v->toString() : std::nullopt;
}

bool stopRaised() {
    const core::AppContext* app = core::appContext();
    return app && (app->quitRequested.load() == 1 || app->restartRequested.load() == 1 ||
                   app->dataLoadRequested.load() == 1);
}

bool skipActive(ScriptInterpreter& in) {
    const core::AppContext* app = core::appContext();
    if (app && app->skipMode.load() == 1) return true;
    InputWaiter* w = in.inputWaiter();
    return w && w->keyHeld(key::kControl);
}

void latch(ScriptInterpreter& in) {
    if (InputWaiter* w = in.inputWaiter()) w->latchLeftClicks();
}

// Waits for a trigger for at most `ms`; -1 when none fired. An installed waiter gets the whole
// time: it wakes on the stop flags itself, and a click must find its context waiting (slices
// would leave gaps in which one is not taken). Without a waiter it is a clock wait of at most one
// frame that notices the stop flags (raised without notifying the clock); the callers loop.
int waitForTrigger(ScriptInterpreter& in, int64_t ms) {
    if (ms <= 0) return -1;
    if (InputWaiter* w = in.inputWaiter())
        return w->wait(static_cast<uint32_t>(std::min<int64_t>(ms, platform::kInfinite - 1)));
    platform::Clock::instance().waitUntil(
        [] { return stopRaised(); },
        static_cast<uint32_t>(std::min<int64_t>(ms, core::kStopCheckIntervalMs)));
    return -1;
}

int64_t elapsedSince(uint32_t& t0) {
    uint32_t now = platform::timeNow();
    int64_t elapsed = static_cast<uint32_t>(now - t0);
    t0 = now;
    return elapsed;
}

// ---------------------------------------------------------------------------------------------

void apply(ScriptInterpreter& in, const Args&, int32_t, ScriptValue*) {
    in.host().releaseMainQueue();
}

void wait(ScriptInterpreter& in, const Args& args, int32_t count, ScriptValue*) {
    const int64_t time = intArg(args, count, 0).value_or(1000);
    const int64_t skipOn = intArg(args, count, 1).value_or(0);
    ScriptHost& host = in.host();
    host.releaseMainQueue();
    int ids[3] = {-1, -1, -1};
    if (InputWaiter* w = in.inputWaiter()) {
        w->clearTriggers();
        ids[0] = w->addTrigger(TriggerKind::Key, key::kEnter, 0);
        ids[1] = w->addTrigger(TriggerKind::Key, key::kControl, 0);
        ids[2] = w->addTrigger(TriggerKind::MouseButton, 1, 0);
        if (skipOn == 0) {
            for (int id : ids)
                w->setDisabled(id, true);
        }
    }
    int64_t remaining = time;
    uint32_t t0 = platform::timeNow();
    while (remaining > 0) {
        // Skip already on (Ctrl held down before the wait, or skip mode): no message would come
        // to end the wait, so do not start it.
        if (skipOn != 0 && skipActive(in)) break;
        int fired = waitForTrigger(in, remaining);
        host.releaseMainQueue();
        if (stopRaised()) break;
        if (fired >= 0 && (fired == ids[0] || fired == ids[1] || fired == ids[2])) break;
        if (skipOn != 0 && skipActive(in)) break;
        remaining -= elapsedSince(t0);
    }
    if (skipOn == 0) latch(in);
}

void keyWait(ScriptInterpreter& in, const Args& args, int32_t count, ScriptValue*) {
    const int64_t time = intArg(args, count, 0).value_or(std::numeric_limits<int64_t>::max());
    ScriptHost& host = in.host();
    core::AppContext* app = core::appContext();
    host.releaseMainQueue();
    latch(in);

    if (skipActive(in)) {
        host.queueTextDrawingAllFinish();
        host.releaseMainQueue();
    } else {
        host.waitForFrame();
        int advance[6] = {-1, -1, -1, -1, -1, -1};
        int history[3] = {-1, -1, -1};
        if (InputWaiter* w = in.inputWaiter()) {
            w->clearTriggers();
            advance[0] = w->addTrigger(TriggerKind::Key, key::kEnter, 0);
            advance[1] = w->addTrigger(TriggerKind::Key, key::kControl, 1);
            advance[2] = w->addTrigger(TriggerKind::MouseButton, 1, 0);
            advance[3] = w->addTrigger(TriggerKind::WheelToward, 0, 0);
            advance[4] = w->addTrigger(TriggerKind::Key, key::kDown, 0);
            advance[5] = w->addTrigger(TriggerKind::Key, key::kPageDown, 0);
            history[0] = w->addTrigger(TriggerKind::WheelAway, 0, 0);
            history[1] = w->addTrigger(TriggerKind::Key, key::kUp, 0);
            history[2] = w->addTrigger(TriggerKind::Key, key::kPageUp, 0);
        }
        auto isOneOf = [](int fired, const int* ids, int n) {
            return fired >= 0 && std::find(ids, ids + n, fired) != ids + n;
        };

        const int64_t autoWait = app ? app->autoWait : 1000;
        std::optional<int64_t> timer;
        if (app && !app->lastVoiceFile.empty()) {
            std::optional<int64_t> len = host.currentVoiceLength();
            if (len && *len != 0) timer = *len + autoWait;
        }
        if (!timer) {
            if (std::optional<int64_t> shown = host.messageDisplayTime()) timer = *shown + autoWait;
        }

        int64_t remaining = time;
        uint32_t t0 = platform::timeNow();
        while (remaining > 0) {
            const bool autoOn = app && app->autoMode.load() == 1;
            if (autoOn && timer && *timer <= 0) {
                if (!host.anyVoicePlaying()) break;
                timer = autoWait;
            }
            int64_t slice = remaining;
            if (autoOn && timer) slice = std::min(slice, *timer);
            int fired = waitForTrigger(in, slice);
            host.releaseMainQueue();
            if (stopRaised()) break;
            if (isOneOf(fired, advance, 6)) {
                if (!host.messageTextDrawing()) break;
                host.queueTextDrawingAllFinish();
                host.releaseMainQueue();
                host.waitForFrame();
                host.clearMessageTextGuard();
                latch(in);
            } else if (isOneOf(fired, history, 3)) {
                in.callSystemScript(kHistoryScript);
                break;
            }
            if (skipActive(in)) break;
            if (in.isSystemScriptActive()) {
                in.repeatCurrent();
                break;
            }
            int64_t elapsed = elapsedSince(t0);
            remaining -= elapsed;
            if (timer) *timer -= elapsed;
        }
    }

    if (!in.isSystemScriptActive()) {
        if (app) {
            app->voiceStarted.store(0);
            if (app->textFlag == 1) host.queueStopVoice(100);
        }
    }
    host.releaseMainQueue();
    latch(in);
}

void scriptJump(ScriptInterpreter& in, const Args& args, int32_t count, ScriptValue*) {
    std::optional<std::string> file = stringArg(args, count, 0);
    (void)stringArg(args, count, 1);  // Label: read, no effect
    if (file && !file->empty()) in.jumpScript(*file);
}

void scriptCall(ScriptInterpreter& in, const Args& args, int32_t count, ScriptValue*) {
    std::optional<std::string> file = stringArg(args, count, 0);
    (void)stringArg(args, count, 1);
    if (file && !file->empty()) in.callScript(*file);
}

// An unset Value compares with 0, in both tests.
bool ifCondition(const Args& args, int32_t count) {
    const std::optional<int64_t> flag = flagArg(args, count, 2);
    const int64_t value = flagArg(args, count, 3).value_or(0);
    const std::optional<int64_t> global = flagArg(args, count, 4);
    bool result = false;
    if (flag && localFlag(*flag) == value) result = true;
    if (global && globalFlag(*global) == value) result = true;
    return result;
}

void ifScriptJump(ScriptInterpreter& in, const Args& args, int32_t count, ScriptValue*) {
    std::optional<std::string> file = stringArg(args, count, 0);
    if (ifCondition(args, count) && file && !file->empty()) in.jumpScript(*file);
}

void ifScriptCall(ScriptInterpreter& in, const Args& args, int32_t count, ScriptValue*) {
    std::optional<std::string> file = stringArg(args, count, 0);
    if (ifCondition(args, count) && file && !file->empty()) in.callScript(*file);
}

void flagSet(ScriptInterpreter&, const Args& args, int32_t count, ScriptValue*) {
    if (std::optional<int64_t> flag = flagArg(args, count, 0))
        setLocalFlag(*flag, flagArg(args, count, 1).value_or(1));
}

void flagReset(ScriptInterpreter&, const Args& args, int32_t count, ScriptValue*) {
    if (std::optional<int64_t> flag = flagArg(args, count, 0)) setLocalFlag(*flag, 0);
}

void globalFlagSet(ScriptInterpreter&, const Args& args, int32_t count, ScriptValue*) {
    if (std::optional<int64_t> flag = flagArg(args, count, 0))
        setGlobalFlag(*flag, flagArg(args, count, 1).value_or(1));
}

void quit(ScriptInterpreter& in, const Args&, int32_t, ScriptValue*) {
    in.endAllScripts();
}

void restart(ScriptInterpreter& in, const Args&, int32_t, ScriptValue*) {
    in.endAllScripts();
    in.jumpScript(kRestartScript);
    in.host().queueRestartCleanup();
}

void historyReset(ScriptInterpreter& in, const Args&, int32_t, ScriptValue*) {
    in.host().clearHistory();
}

}  // namespace

CommandHandler builtinHandler(std::string_view name) {
    if (name == "Apply") return apply;
    if (name == "Wait") return wait;
    if (name == "KeyWait") return keyWait;
    if (name == "ScriptJump") return scriptJump;
    if (name == "ScriptCall") return scriptCall;
    if (name == "IfScriptJump") return ifScriptJump;
    if (name == "IfScriptCall") return ifScriptCall;
    if (name == "FlagSet") return flagSet;
    if (name == "FlagReset") return flagReset;
    if (name == "GlobalFlagSet") return globalFlagSet;
    if (name == "Quit") return quit;
    if (name == "Restart") return restart;
    if (name == "HistoryReset") return historyReset;
    return {};  // Dammy, and the commands of other subsystems until they register
}

}  // namespace vaxo2::script
