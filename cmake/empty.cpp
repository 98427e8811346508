// Placeholder translation unit for a subsystem that has no sources yet.
namespace zorv { [[maybe_unused]] static int empty_translation_unit; }
