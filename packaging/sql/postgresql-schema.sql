-- The calibration history of KestroVar Link and kestrovar-cli on PostgreSQL, schema version 1.
--
-- A database administrator runs it once, as the owner the records will have:
--     psql -d kestrovar -f postgresql-schema.sql
-- The programs run the same text themselves on first use when their user may create tables.
-- Records are only ever inserted: the triggers refuse UPDATE, DELETE and TRUNCATE, and stamp each
-- row with the user the server knows, whatever the client sends.

CREATE TABLE history_meta (
    key text PRIMARY KEY,
    value text NOT NULL
);

CREATE TABLE calibration_records (
    seq bigint PRIMARY KEY,            -- the order of the hash chain, 1 upwards
    id text NOT NULL UNIQUE,           -- 20261209T080001.250Z_save-sent_verified
    time_ms bigint NOT NULL,           -- milliseconds since 1970-01-01 UTC
    operation text NOT NULL,
    result text NOT NULL,
    program text NOT NULL,
    port text NOT NULL,
    adapter text NOT NULL,
    adapter_serial text NOT NULL,
    unit text NOT NULL,
    operator text NOT NULL,
    host text NOT NULL,
    cal bytea NOT NULL,                -- the .cal file Save Settings to File writes
    prev_hash text NOT NULL,           -- the previous record's hash, empty for the first
    hash text NOT NULL,                -- SHA-256 over this record's content and prev_hash
    db_user text NOT NULL DEFAULT session_user
);

CREATE INDEX calibration_records_unit ON calibration_records (unit, time_ms);
CREATE INDEX calibration_records_time ON calibration_records (time_ms);

CREATE FUNCTION calibration_records_stamp() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
    NEW.db_user := session_user;
    RETURN NEW;
END
$$;

CREATE FUNCTION calibration_records_refuse() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
    RAISE EXCEPTION 'calibration records cannot be changed or removed';
END
$$;

CREATE TRIGGER calibration_records_stamp BEFORE INSERT ON calibration_records
    FOR EACH ROW EXECUTE FUNCTION calibration_records_stamp();
CREATE TRIGGER calibration_records_no_change BEFORE UPDATE OR DELETE ON calibration_records
    FOR EACH ROW EXECUTE FUNCTION calibration_records_refuse();
CREATE TRIGGER calibration_records_no_truncate BEFORE TRUNCATE ON calibration_records
    FOR EACH STATEMENT EXECUTE FUNCTION calibration_records_refuse();

INSERT INTO history_meta (key, value) VALUES ('schema_version', '1');
