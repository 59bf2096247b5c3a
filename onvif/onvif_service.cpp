// The one process-wide ONVIF state object.
#include "onvif/onvif_service.h"

namespace lcx {

OnvifService& GetOnvifService() {
  // Never destroyed under a live reader: the program ends with _Exit after
  // its stop signal (see app/engine.cpp), so no static destructor runs.
  static OnvifService service;
  return service;
}

}  // namespace lcx
