#pragma once
// Runs scenario scripts on the scenario thread: a stack of loaded scripts, one statement of the
// top script at a time, arguments bound from the compiled tables and handed to the handler of
// the command table.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "script/input_waiter.h"
#include "script/script_host.h"
#include "script/script_image.h"
#include "script/script_loader.h"
#include "script/script_value.h"

namespace vaxo2::script {

// Lists nested deeper than this in a (damaged) image bind as empty lists: a list whose items
// name the list itself would otherwise recurse without end.
constexpr int kMaxListDepth = 32;
// Values one statement's arguments may expand to: lists that share their item lists (possible
// only in a damaged image) would otherwise multiply at every level. Tools that print an image
// keep to the same budget.
constexpr int64_t kMaxBoundValues = 1 << 16;
// Scripts the stack may hold: a call nested deeper is refused (an endless ScriptCall recursion
// would otherwise grow memory until the system ends the game).
constexpr size_t kMaxScriptDepth = 256;

class ScriptInterpreter {
  public:
    ScriptInterpreter();
    virtual ~ScriptInterpreter();
    ScriptInterpreter(const ScriptInterpreter&) = delete;
    ScriptInterpreter& operator=(const ScriptInterpreter&) = delete;

    // --- set-up (before the scenario thread runs) ---
    // Not owned; null restores the default host.
    void setHost(ScriptHost* host);
    ScriptHost& host() { return *host_; }
    void setInputWaiter(std::unique_ptr<InputWaiter> waiter) { inputWaiter_ = std::move(waiter); }
    InputWaiter* inputWaiter() { return inputWaiter_.get(); }
    ScriptLoader& loader() { return loader_; }

    // --- running ---
    // Pushes `name` when given, then runs until the stack is empty or a stop flag is up.
    void runScripts(const std::optional<std::string>& name = std::nullopt);
    void stepCommand(ScriptContext& context);
    // The reload step after a slot load: restored contexts replace the stack and resume under
    // "system\PreDataLoad.vxs".
    void reloadStep();

    // --- flow (used by handlers) ---
    ScriptContext& pushScript(const std::string& name);
    void callScript(const std::string& name);
    void jumpScript(const std::string& name);
    void callSystemScript(const std::string& name);
    void endAllScripts();
    bool isSystemScriptActive() const;
    void repeatCurrent();

    // --- save slots ---
    // Appends a record for every non-system context, bottom to top.
    void writeAllStates(std::vector<uint8_t>& out) const;
    // Appends the records in `bytes` to the pending stack; returns how many were read.
    size_t readAllStates(const uint8_t* bytes, size_t size);

    // --- inspection ---
    const std::vector<std::unique_ptr<ScriptContext>>& scriptStack() const { return stack_; }
    std::vector<std::unique_ptr<ScriptContext>>& pendingStack() { return pending_; }
    ScriptContext* executingContext() const { return executing_; }
    const std::vector<ScriptValue>& arguments() const { return arguments_; }

    // Binds the first `limit` entries of the argument list at `position` of `context`'s image
    // into `out` (grown as needed); returns how many were bound. Exposed for tools.
    static int32_t bindArguments(const ScriptContext& context, int32_t position,
                                 std::vector<ScriptValue>& out, int32_t limit = INT32_MAX);
    static void bindElement(const ScriptContext& context, int32_t elementIndex, ScriptValue& out,
                            int depth = 0);

  private:
    // `leaving`: contexts on the stack that end with this push (a jump's own).
    ScriptContext& pushScript(const std::string& name, size_t leaving);
    static void endContext(ScriptContext& context);
    bool stopFlagUp() const;

    std::vector<std::unique_ptr<ScriptContext>> stack_;
    std::vector<std::unique_ptr<ScriptContext>> pending_;
    std::unique_ptr<InputWaiter> inputWaiter_;
    std::vector<ScriptValue> arguments_;
    ScriptContext* executing_ = nullptr;
    ScriptHost defaultHost_;
    ScriptHost* host_ = &defaultHost_;
    ScriptLoader loader_;
    std::set<std::string> refusedNames_;  // too-deep calls already reported
};

// The name the application context knows the interpreter by.
class ScriptRunner : public ScriptInterpreter {
  public:
    using ScriptInterpreter::ScriptInterpreter;
};

}  // namespace vaxo2::script
