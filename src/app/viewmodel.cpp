#include "app/viewmodel.h"

namespace app {

const Control& ViewModel::get(const std::string& name) const { return m_controls[name]; }

void ViewModel::setText(const std::string& name, const std::string& text) {
  Control& c = ref(name);
  if (c.text == text) return;
  c.text = text;
  m_dirty.insert(name);
}

void ViewModel::setVisible(const std::string& name, bool visible) {
  Control& c = ref(name);
  if (c.visible == visible) return;
  c.visible = visible;
  m_dirty.insert(name);
}

void ViewModel::setEnabled(const std::string& name, bool enabled) {
  Control& c = ref(name);
  if (c.enabled == enabled) return;
  c.enabled = enabled;
  m_dirty.insert(name);
}

void ViewModel::setChecked(const std::string& name, bool checked) {
  Control& c = ref(name);
  if (c.checked == checked) return;
  c.checked = checked;
  m_dirty.insert(name);
}

void ViewModel::setItemIndex(const std::string& name, int index) {
  Control& c = ref(name);
  if (c.itemIndex == index) return;
  c.itemIndex = index;
  m_dirty.insert(name);
}

void ViewModel::setColour(const std::string& name, int64_t colour) {
  Control& c = ref(name);
  if (c.colour == colour) return;
  c.colour = colour;
  m_dirty.insert(name);
}

void ViewModel::setItemHints(const std::string& name, const std::vector<std::string>& hints) {
  Control& c = ref(name);
  if (c.itemHints == hints) return;
  c.itemHints = hints;
  m_dirty.insert(name);
}

void ViewModel::define(const std::string& name, const Control& c) { m_controls[name] = c; }

std::set<std::string> ViewModel::takeDirty() {
  std::set<std::string> out;
  out.swap(m_dirty);
  return out;
}

std::vector<std::string> ViewModel::names() const {
  std::vector<std::string> out;
  out.reserve(m_controls.size());
  for (const auto& [name, c] : m_controls) out.push_back(name);
  return out;
}

void ViewModel::appendMemoLine(const std::string& line) {
  if (m_memo.size() >= kMemoMax) m_memo.pop_front();
  m_memo.push_back(line);
  ++m_memoTotal;
}

}  // namespace app
