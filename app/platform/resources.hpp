// The resources compiled into app_lib: interface files, images and the key click.
#pragma once

namespace quorin {

// Registers the compiled-in resources; call once after creating the application object. A
// static library's resources are not registered by themselves.
void initResources();

}  // namespace quorin
