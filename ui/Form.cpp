#include "ui/Form.h"

#include <stdexcept>
#include <utility>

namespace tc::ui {

Control* Form::tryFind(const std::string& name) const {
    for (const auto& c : controls_)
        if (c->name() == name) return c.get();
    return nullptr;
}

Control& Form::find(const std::string& name) const {
    if (auto* c = tryFind(name)) return *c;
    throw std::runtime_error("no control named " + name);
}

int Form::onControlAdded(std::function<void(Control&)> f) {
    addedHandlers_.emplace(++lastHandler_, std::move(f));
    return lastHandler_;
}

void Form::removeControlAddedHandler(int id) {
    addedHandlers_.erase(id);
}

}  // namespace tc::ui
