#include "layout/DefaultLayoutServices.h"

#include "layout/LayoutDocument.h"
#include "layout/LayoutServices.h"
#include "layout/PluginFactory.h"

namespace {

class EnvironmentService : public IPluginEnvironmentService {
 public:
  CPropertyList BuildEnvironment() override { return BuildPluginEnvironment(); }
};

}  // namespace

void InstallLayoutServices() {
  CRefPtr<IResourcePackageProviderService> packages(new ResourcePackageProvider());
  SetResourcePackageProvider(packages.Get());
  CRefPtr<IPluginFactoryService> factory(new PluginFactoryService());
  SetPluginFactory(factory.Get());
  CRefPtr<IPluginEnvironmentService> environment(new EnvironmentService());
  SetPluginEnvironment(environment.Get());
  CRefPtr<ILayoutProviderService> layouts(new LayoutProvider());
  SetLayoutProvider(layouts.Get());
}

void RemoveLayoutServices() {
  ResetLayoutProvider();
  ResetPluginEnvironment();
  ResetPluginFactory();
  ResetResourcePackageProvider();
}
