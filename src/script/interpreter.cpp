#include "script/interpreter.h"

#include <algorithm>
#include <cstdio>

#include "core/app_context.h"
#include "script/command_table.h"
#include "script/flow_commands.h"

namespace vaxo2::script {
ScriptInterpreter::ScriptInterpreter() = default;
ScriptInterpreter::~ScriptInterpreter() = default;

void ScriptInterpreter::setHost(ScriptHost* host) {
    host_ = host ? host : &defaultHost_;
}

namespace {

void bindValue(const ScriptContext& context, int32_t elementIndex, ScriptValue& out, int depth,
               int64_t& budget) {
    if (--budget < 0) return;
    const ScriptImage& img = context.image;
    const ScriptElement* e = img.element(elementIndex);
    if (!e) return;
    switch (static_cast<ElementKind>(e->kind)) {
        case ElementKind::Label: {
            auto name = img.text(e->name);
            out.type = ScriptValueType::LabelRef;
            out.text = name ? std::string(*name) : std::string();
            out.integer = e->link;
            break;
        }
        case ElementKind::Variable:
            if (e->link >= 0 && static_cast<size_t>(e->link) < context.temporaries.size())
                out = context.temporaries[static_cast<size_t>(e->link)];
            break;
        case ElementKind::Integer:
            if (auto v = img.integerAt(e->link)) {
                out.type = ScriptValueType::Integer;
                out.integer = *v;
            }
            break;
        case ElementKind::Real:
            if (auto v = img.realAt(e->link)) {
                out.type = ScriptValueType::Real;
                out.real = *v;
            }
            break;
        case ElementKind::String:
            if (auto v = img.text(e->link)) {
                out.type = ScriptValueType::String;
                out.text.assign(v->data(), v->size());
            }
            break;
        case ElementKind::List: {
            out.type = ScriptValueType::List;
            if (depth >= kMaxListDepth) break;
            auto list = img.argumentList(e->link);
            if (!list || list->count > budget) break;
            out.items.resize(static_cast<size_t>(list->count));
            for (int32_t i = 0; i < list->count; ++i)
                bindValue(context, list->items[i], out.items[static_cast<size_t>(i)], depth + 1,
                          budget);
            break;
        }
        default:
            break;
    }
}

}  // namespace

void ScriptInterpreter::bindElement(const ScriptContext& context, int32_t elementIndex,
                                    ScriptValue& out, int depth) {
    int64_t budget = kMaxBoundValues;
    bindValue(context, elementIndex, out, depth, budget);
}

int32_t ScriptInterpreter::bindArguments(const ScriptContext& context, int32_t position,
                                         std::vector<ScriptValue>& out, int32_t limit) {
    auto list = context.image.argumentList(position);
    if (!list) return 0;
    const int32_t count = std::clamp(list->count, 0, std::max(limit, 0));
    if (out.size() < static_cast<size_t>(count)) out.resize(static_cast<size_t>(count));
    int64_t budget = kMaxBoundValues;
    for (int32_t i = 0; i < count; ++i) {
        ScriptValue& v = out[static_cast<size_t>(i)];
        v.reset();
        bindValue(context, list->items[i], v, 0, budget);
    }
    return count;
}

void ScriptInterpreter::stepCommand(ScriptContext& context) {
    executing_ = &context;
    const int32_t size = context.commandCount();
    context.nextIndex = context.currentIndex < size ? context.currentIndex + 1 : size;
    if (context.currentIndex >= 0 && context.currentIndex < size) {
        const ScriptImage& img = context.image;
        const ScriptElement* e =
            img.element(img.commandList[static_cast<size_t>(context.currentIndex)]);
        if (e && e->kind == static_cast<int32_t>(ElementKind::Command)) {
            auto name = img.text(e->name);
            int index = name ? lookupCommand(*name) : 0;
            // Handlers read their parameters only: positions past them (a damaged image may
            // list millions) are not bound, and a statement outside the table binds nothing.
            int32_t count = bindArguments(context, e->link, arguments_, parameterCount(index));
            if (index > 0) {
                context.result.reset();
                callHandler(index, *this, arguments_, count, &context.result);
            }
        }
    }
    // `context` is still alive here: handlers only push contexts or end them; removal happens
    // in runScripts.
    if (context.currentIndex != context.nextIndex && context.readMarks &&
        context.currentIndex >= 0 && context.currentIndex < size)
        context.readMarks[context.currentIndex] = 1;
    context.currentIndex = context.nextIndex;
    executing_ = nullptr;
}

bool ScriptInterpreter::stopFlagUp() const {
    const core::AppContext* app = core::appContext();
    if (!app) return false;
    return app->windowClosed.load() != 0 || app->quitRequested.load() == 1 ||
           app->restartRequested.load() == 1 || app->dataLoadRequested.load() == 1;
}

void ScriptInterpreter::runScripts(const std::optional<std::string>& name) {
    if (name) pushScript(*name);
    while (!stack_.empty()) {
        ScriptContext* top = stack_.back().get();
        if (top->currentIndex < top->commandCount()) stepCommand(*top);
        if (top->currentIndex >= top->commandCount()) {
            for (auto it = stack_.begin(); it != stack_.end(); ++it) {
                if (it->get() == top) {
                    stack_.erase(it);
                    break;
                }
            }
        }
        if (stopFlagUp()) break;
    }
}

void ScriptInterpreter::reloadStep() {
    if (core::AppContext* app = core::appContext()) app->dataLoadRequested.store(0);
    if (!pending_.empty()) {
        stack_.clear();
        for (auto& c : pending_)
            stack_.push_back(std::move(c));
        pending_.clear();
    }
    callScript(kPreDataLoadScript);
    runScripts();
}

ScriptContext& ScriptInterpreter::pushScript(const std::string& name) {
    return pushScript(name, 0);
}

ScriptContext& ScriptInterpreter::pushScript(const std::string& name, size_t leaving) {
    auto context = std::make_unique<ScriptContext>();
    context->name = name;
    if (stack_.size() - std::min(leaving, stack_.size()) < kMaxScriptDepth) {
        loader_.loadScript(*context, host_);
    } else {
        // Refused like a script that cannot be loaded: the context is empty and ends at once,
        // so the caller goes on after its call.
        if (refusedNames_.size() < kMaxScriptDepth && refusedNames_.insert(name).second) {
            std::fprintf(stderr,
                         "vaxo2: script \"%s\" not started: scripts are already nested %zu "
                         "deep (a ScriptCall that never returns?)\n",
                         name.c_str(), kMaxScriptDepth);
        }
    }
    if (executing_) {
        if (executing_->isSystemScript) context->isSystemScript = executing_->isSystemScript;
        if (executing_->reservedByte != 0) context->reservedByte = executing_->reservedByte;
    }
    stack_.push_back(std::move(context));
    return *stack_.back();
}

void ScriptInterpreter::callScript(const std::string& name) {
    pushScript(name);
}

void ScriptInterpreter::endContext(ScriptContext& context) {
    context.currentIndex = context.commandCount();
    context.nextIndex = context.commandCount();
}

void ScriptInterpreter::jumpScript(const std::string& name) {
    // The jumping context ends: a jump never deepens the stack.
    pushScript(name, executing_ ? 1 : 0);
    if (executing_) endContext(*executing_);
}

void ScriptInterpreter::callSystemScript(const std::string& name) {
    ScriptContext& pushed = pushScript(name);
    pushed.isSystemScript = 1;
    if (executing_) executing_->nextIndex = executing_->currentIndex;
}

void ScriptInterpreter::endAllScripts() {
    for (auto& c : stack_)
        endContext(*c);
}

bool ScriptInterpreter::isSystemScriptActive() const {
    if (stack_.empty()) return false;
    const ScriptContext* top = stack_.back().get();
    return top->isSystemScript != 0 || top != executing_;
}

void ScriptInterpreter::repeatCurrent() {
    if (executing_) executing_->nextIndex = executing_->currentIndex;
}

void ScriptInterpreter::writeAllStates(std::vector<uint8_t>& out) const {
    for (const auto& c : stack_) {
        if (c->isSystemScript) continue;
        std::vector<uint8_t> rec = writeStateRecord(*c);
        out.insert(out.end(), rec.begin(), rec.end());
    }
}

size_t ScriptInterpreter::readAllStates(const uint8_t* bytes, size_t size) {
    return readStateRecords(bytes, size, pending_);
}

}  // namespace vaxo2::script
