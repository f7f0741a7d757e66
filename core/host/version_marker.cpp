// The host-interface version marker, kept in each module's read-only data where tools such as
// `strings` find it. Windows builds carry it as a string table resource (version_marker.rc).
namespace sphnet {

extern const char kHostInterfaceMarker[];
extern const char kInliningMarker[];

__attribute__((used)) const char kHostInterfaceMarker[] = "MATLAB 5.1 native";
__attribute__((used)) const char kInliningMarker[] = "not inlined";

}  // namespace sphnet
