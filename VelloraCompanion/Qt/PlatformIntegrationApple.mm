// macOS: the activation policy, Chrome by bundle identifier through NSWorkspace, Finder, and
// the bundle's resource directory.
#import <AppKit/AppKit.h>

#include <memory>
#include <utility>

#include "VelloraCompanion/Qt/PlatformIntegration.h"

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
