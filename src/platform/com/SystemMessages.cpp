// The system message table: filled in by the OPC error work.
