-- The calibration history of KestroVar Link and kestrovar-cli on PostgreSQL, schema version 2.
--
-- A database administrator runs it once, as the owner the records will have:
--     psql -d kestrovar -f postgresql-schema.sql
-- The programs run the same text themselves on first use when their user may create tables.
-- Records are only ever inserted: the triggers refuse UPDATE, DELETE and TRUNCATE, and stamp each
-- row with the user the server knows, whatever the client sends.
--
-- A database of schema version 1 is upgraded in place by the text from the line that starts the
-- second version below on: a program does it on first use when its user owns the tables, or the
-- owner runs
--     sed -n '/^-- Schema version 2:/,$p' postgresql-schema.sql | psql -d kestrovar

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

-- Schema version 2: every stored field under the hash (chain 2; a record of chain 1 keeps its own
-- rule, which left out seq and db_user), and the chain's head (how many records, the newest seq and
-- hash) in history_head, which only a new record moves on, so a record removed from the end is
-- found. A record that does not follow the head is refused. The head and the schema version are
-- guarded as the records are.

ALTER TABLE calibration_records ADD COLUMN chain integer NOT NULL DEFAULT 1;

CREATE TABLE history_head (
    one integer PRIMARY KEY CHECK (one = 1),
    records bigint NOT NULL,           -- how many records were kept
    seq bigint NOT NULL,               -- the newest record's seq, 0 for none
    hash text NOT NULL                 -- its hash, empty for none
);
INSERT INTO history_head (one, records, seq, hash)
    SELECT 1, count(*), coalesce(max(seq), 0),
           coalesce((SELECT hash FROM calibration_records ORDER BY seq DESC LIMIT 1), '')
    FROM calibration_records;
UPDATE history_meta SET value = '2' WHERE key = 'schema_version';
DO $$
BEGIN
    IF EXISTS (SELECT 1 FROM pg_roles WHERE rolname = 'kestrovar_technicians') THEN
        GRANT SELECT ON history_head TO kestrovar_technicians;
    END IF;
END
$$;

CREATE FUNCTION calibration_records_follow() RETURNS trigger LANGUAGE plpgsql SECURITY DEFINER
    SET search_path FROM CURRENT AS $$
DECLARE
    head history_head%ROWTYPE;
BEGIN
    SELECT * INTO head FROM history_head FOR UPDATE;
    IF NOT FOUND OR NEW.chain IS DISTINCT FROM 2 OR NEW.seq IS DISTINCT FROM head.seq + 1
       OR NEW.prev_hash IS DISTINCT FROM head.hash THEN
        RAISE EXCEPTION 'a calibration record must follow the newest record';
    END IF;
    RETURN NEW;
END
$$;

CREATE FUNCTION calibration_records_advance() RETURNS trigger LANGUAGE plpgsql SECURITY DEFINER
    SET search_path FROM CURRENT AS $$
BEGIN
    UPDATE history_head SET records = records + 1, seq = NEW.seq, hash = NEW.hash;
    RETURN NULL;
END
$$;

CREATE FUNCTION history_head_follow() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
    IF NEW.one IS DISTINCT FROM 1 OR NEW.records IS DISTINCT FROM OLD.records + 1 OR NEW.seq <= OLD.seq
       OR NOT EXISTS (SELECT 1 FROM calibration_records r
                      WHERE r.seq = NEW.seq AND r.hash = NEW.hash AND r.prev_hash = OLD.hash) THEN
        RAISE EXCEPTION 'the head of the calibration records only follows them';
    END IF;
    RETURN NEW;
END
$$;

CREATE TRIGGER calibration_records_follow BEFORE INSERT ON calibration_records
    FOR EACH ROW EXECUTE FUNCTION calibration_records_follow();
CREATE TRIGGER calibration_records_advance AFTER INSERT ON calibration_records
    FOR EACH ROW EXECUTE FUNCTION calibration_records_advance();
CREATE TRIGGER history_head_follow BEFORE UPDATE ON history_head
    FOR EACH ROW EXECUTE FUNCTION history_head_follow();
CREATE TRIGGER history_head_no_change BEFORE INSERT OR DELETE ON history_head
    FOR EACH ROW EXECUTE FUNCTION calibration_records_refuse();
CREATE TRIGGER history_head_no_truncate BEFORE TRUNCATE ON history_head
    FOR EACH STATEMENT EXECUTE FUNCTION calibration_records_refuse();
CREATE TRIGGER history_meta_no_change BEFORE UPDATE OR DELETE ON history_meta
    FOR EACH ROW EXECUTE FUNCTION calibration_records_refuse();
CREATE TRIGGER history_meta_no_truncate BEFORE TRUNCATE ON history_meta
    FOR EACH STATEMENT EXECUTE FUNCTION calibration_records_refuse();
