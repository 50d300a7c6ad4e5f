// macOS: the activation policy, activation and the reopen event, Chrome by bundle identifier
// through NSWorkspace, Finder, and the bundle's resource directory.
#import <AppKit/AppKit.h>
#import <CoreServices/CoreServices.h>

#include <memory>
#include <utility>

#include "VelloraCompanion/Qt/PlatformIntegration.h"

// Receives the reopen Apple event on the main thread.
@interface VelloraReopenHandler : NSObject
- (instancetype)initWithHandler:(std::function<void()>)handler;
- (void)handleReopen:(NSAppleEventDescriptor*)event
      withReplyEvent:(NSAppleEventDescriptor*)reply;
@end

@implementation VelloraReopenHandler {
  std::function<void()> _handler;
}

- (instancetype)initWithHandler:(std::function<void()>)handler {
  if ((self = [super init])) _handler = std::move(handler);
  return self;
}

- (void)handleReopen:(NSAppleEventDescriptor*)event
      withReplyEvent:(NSAppleEventDescriptor*)reply {
  (void)event;
  (void)reply;
  if (_handler) _handler();
}
@end

namespace vellora::platform {

namespace {

NSString* toNSString(const std::string& text) {
  return [NSString stringWithUTF8String:text.c_str()];
}

}  // namespace

void setActivationPolicy(ActivationPolicy policy) {
  [NSApp setActivationPolicy:policy == ActivationPolicy::regular
                                 ? NSApplicationActivationPolicyRegular
                                 : NSApplicationActivationPolicyAccessory];
}

void activateApplication() {
  [NSApp activateIgnoringOtherApps:YES];
}

void onReopen(std::function<void()> handler) {
  // The event manager does not retain its handler; this one lives as long as the application.
  static VelloraReopenHandler* receiver = nil;
  receiver = [[VelloraReopenHandler alloc] initWithHandler:std::move(handler)];
  [[NSAppleEventManager sharedAppleEventManager]
      setEventHandler:receiver
          andSelector:@selector(handleReopen:withReplyEvent:)
        forEventClass:kCoreEventClass
           andEventID:kAEReopenApplication];
}

std::optional<std::string> applicationLocation(const std::string& bundleIdentifier) {
  @autoreleasepool {
    NSURL* url = [[NSWorkspace sharedWorkspace]
        URLForApplicationWithBundleIdentifier:toNSString(bundleIdentifier)];
    if (url == nil || url.path == nil) return std::nullopt;
    return std::string(url.path.UTF8String);
  }
}

void openURLsWithApplication(const std::vector<std::string>& urls,
                             const std::string& applicationLocation,
                             Desktop::OpenCompletion completion) {
  @autoreleasepool {
    NSMutableArray<NSURL*>* list = [NSMutableArray array];
    for (const std::string& text : urls) {
      if (NSURL* url = [NSURL URLWithString:toNSString(text)]) [list addObject:url];
    }
    NSWorkspaceOpenConfiguration* configuration = [NSWorkspaceOpenConfiguration configuration];
    configuration.activates = YES;
    auto shared = std::make_shared<Desktop::OpenCompletion>(std::move(completion));
    // The completion handler runs on a queue of the system's.
    [[NSWorkspace sharedWorkspace] openURLs:list
                       withApplicationAtURL:[NSURL fileURLWithPath:toNSString(applicationLocation)]
                              configuration:configuration
                          completionHandler:^(NSRunningApplication*, NSError* error) {
                            if (error != nil) {
                              (*shared)(std::string(error.localizedDescription.UTF8String));
                            } else {
                              (*shared)(std::nullopt);
                            }
                          }];
  }
}

void revealInFileViewer(const std::string& path) {
  @autoreleasepool {
    [[NSWorkspace sharedWorkspace]
        activateFileViewerSelectingURLs:@[ [NSURL fileURLWithPath:toNSString(path)] ]];
  }
}

std::optional<std::string> resourceDirectory(const std::string&) {
  @autoreleasepool {
    NSBundle* bundle = [NSBundle mainBundle];
    // Outside an application bundle there is no resource directory.
    if (![bundle.bundlePath hasSuffix:@".app"] || bundle.resourcePath == nil) return std::nullopt;
    return std::string(bundle.resourcePath.UTF8String);
  }
}

}  // namespace vellora::platform
