#include "shell/app_delegate.h"
#include "shell/plugins/generated_plugin_registrant.h"

namespace lumivane {
namespace {

constexpr double kPanelSide = 600;
// A panel shrunk below this in either direction is reset to the default size
// the next time it is shown, so the interface is never lost in a sliver.
constexpr double kSmallestUsableSide = 100;

constexpr std::uint64_t kPanelStyle =
    platform::NSWindowStyleMaskTitled | platform::NSWindowStyleMaskClosable |
    platform::NSWindowStyleMaskResizable | platform::NSWindowStyleMaskFullSizeContentView;

// On every Space, not part of window cycling, and allowed beside a full-screen
// application.
constexpr std::uint64_t kPanelCollectionBehavior =
    platform::NSWindowCollectionBehaviorCanJoinAllSpaces |
    platform::NSWindowCollectionBehaviorTransient |
    platform::NSWindowCollectionBehaviorFullScreenAuxiliary;

// The panel's look and behaviour, and the translucent backdrop behind the
// interface.
void configurePanel(platform::Panel& panel,
                    const std::shared_ptr<platform::FlutterViewController>& flutterVC,
                    platform::ViewFactory& views) {
  panel.setContentViewController(flutterVC);
  panel.setContentSize({kPanelSide, kPanelSide});
  panel.setTitle("Lumivane");
  panel.setLevel(platform::NSFloatingWindowLevel);
  panel.setCollectionBehavior(kPanelCollectionBehavior);
  panel.setHidesOnDeactivate(false);
  panel.setFloatingPanel(true);
  panel.setOpaque(false);
  panel.setBackgroundColor(platform::Color::clearColor());
  panel.setTitleVisibility(platform::WindowTitleVisibility::hidden);
  panel.setTitlebarAppearsTransparent(true);
  panel.setTitlebarSeparatorStyle(platform::TitlebarSeparatorStyle::none);
  panel.setMovableByWindowBackground(false);
  panel.setHasShadow(true);

  // The translucent backdrop keeps its active look even while the panel is
  // not key, and sits behind the interface's (clear) drawing.
  auto backdrop = views.makeVisualEffectView();
  backdrop->setBlendingMode(platform::VisualEffectBlendingMode::behindWindow);
  backdrop->setState(platform::VisualEffectState::active);
  backdrop->setMaterial(platform::VisualEffectMaterial::sidebar);

  if (auto content = panel.contentView()) {
    content->addSubview(backdrop, platform::WindowOrderingMode::below,
                        flutterVC ? flutterVC->view() : nullptr);
    backdrop->setTranslatesAutoresizingMaskIntoConstraints(false);
    views.activateConstraints({
        backdrop->topAnchor()->constraintEqualToAnchor(content->topAnchor()),
        backdrop->bottomAnchor()->constraintEqualToAnchor(content->bottomAnchor()),
        backdrop->leadingAnchor()->constraintEqualToAnchor(content->leadingAnchor()),
        backdrop->trailingAnchor()->constraintEqualToAnchor(content->trailingAnchor()),
    });
  }
}

}  // namespace

void AppDelegate::setupFloatingPanel() {
  flutterVC = desktop_.flutter().makeFlutterViewController();
  if (flutterVC)
    RegisterGeneratedPlugins(*flutterVC);

  auto panel = desktop_.windows().makePanel(platform::CGRectMake(0, 0, kPanelSide, kPanelSide),
                                            kPanelStyle, platform::BackingStoreType::buffered,
                                            /*defer=*/false);
  if (panel)
    configurePanel(*panel, flutterVC, desktop_.views());
  // The interface draws on a clear background so the backdrop shows through.
  if (flutterVC)
    flutterVC->setBackgroundColor(platform::Color::clearColor());
  floatingPanel = std::move(panel);
}

void AppDelegate::showPanel() {
  if (!floatingPanel)
    return;
  const auto frame = floatingPanel->frame();
  if (platform::CGRectGetWidth(frame) < kSmallestUsableSide ||
      platform::CGRectGetHeight(frame) < kSmallestUsableSide) {
    floatingPanel->setContentSize({kPanelSide, kPanelSide});
  }
  floatingPanel->center();
  floatingPanel->makeKeyAndOrderFront();
  desktop_.application().activateIgnoringOtherApps(true);
}

}  // namespace lumivane
