#pragma once

#include <memory>

#include "platform/window.h"

namespace lumivane {

// The main window of the main user-interface file. The interface lives in the
// floating panel, so this window must stay out of sight whatever asks for it
// to come forward: it hides itself when loaded and ignores requests to be
// ordered front. Everything else goes to the platform's window it wraps.
class MainFlutterWindow final : public platform::Window {
 public:
  // initWithContentRect:styleMask:backing:defer:, passed on unchanged.
  MainFlutterWindow(platform::WindowFactory& factory,
                    platform::CGRect contentRect,
                    std::uint64_t styleMask,
                    platform::BackingStoreType backing,
                    bool defer);

  void awakeFromNib() override;
  void makeKeyAndOrderFront() override {}
  void orderFront() override {}

  void setContentViewController(const std::shared_ptr<platform::ViewController>& c) override {
    base_->setContentViewController(c);
  }
  std::shared_ptr<platform::View> contentView() const override { return base_->contentView(); }
  void setContentSize(platform::CGSize size) override { base_->setContentSize(size); }
  platform::CGRect frame() const override { return base_->frame(); }
  void setFrame(platform::CGRect frame, bool display) override { base_->setFrame(frame, display); }
  void setTitle(const std::string& title) override { base_->setTitle(title); }
  void setLevel(int level) override { base_->setLevel(level); }
  void setCollectionBehavior(std::uint64_t b) override { base_->setCollectionBehavior(b); }
  void setHidesOnDeactivate(bool flag) override { base_->setHidesOnDeactivate(flag); }
  void setOpaque(bool flag) override { base_->setOpaque(flag); }
  void setBackgroundColor(platform::Color color) override { base_->setBackgroundColor(color); }
  void setTitleVisibility(platform::WindowTitleVisibility v) override {
    base_->setTitleVisibility(v);
  }
  void setTitlebarAppearsTransparent(bool flag) override {
    base_->setTitlebarAppearsTransparent(flag);
  }
  void setTitlebarSeparatorStyle(platform::TitlebarSeparatorStyle s) override {
    base_->setTitlebarSeparatorStyle(s);
  }
  void setMovableByWindowBackground(bool flag) override {
    base_->setMovableByWindowBackground(flag);
  }
  void setHasShadow(bool flag) override { base_->setHasShadow(flag); }
  void center() override { base_->center(); }
  void orderOut() override { base_->orderOut(); }
  void setIsVisible(bool flag) override { base_->setIsVisible(flag); }
  bool isVisible() const override { return base_->isVisible(); }
  void performWindowDragWithEvent(const platform::Event& event) override {
    base_->performWindowDragWithEvent(event);
  }

 private:
  std::shared_ptr<platform::Window> base_;
};

}  // namespace lumivane
