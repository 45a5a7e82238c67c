-- The two stored procedures of the component list publisher (PostgreSQL).
-- Load with: psql -v ON_ERROR_STOP=1 -d DB -f procedures.sql
--
-- psqlODBC turns "{call USP_AgentComponent_Details(?,?)}" into a SELECT from the function, so
-- the component query is a set-returning function; its column names are quoted to come back
-- in exactly this letter case.
CREATE OR REPLACE FUNCTION USP_AgentComponent_Details(in_os_type varchar(50),
                                                      in_agent_type varchar(10))
RETURNS TABLE (
    "Type"          varchar,
    "Name"          varchar,
    "filepath"      varchar,
    "MD5Value"      varchar,
    "State"         varchar,
    "AgentVersion"  varchar,
    "BinaryVersion" varchar,
    "Description"   varchar,
    "dependencychk" varchar,
    "IsRegRequired" boolean,
    "AgentType"     varchar,
    "OS"            varchar
)
LANGUAGE sql STABLE
AS $$
    SELECT c.type, c.name, c.filepath, c.md5_value, c.state, c.agent_version,
           c.binary_version, c.description, c.dependencychk, c.is_reg_required,
           c.agent_type, c.os_type
      FROM mst_agent_component c
     WHERE lower(c.os_type) = lower(in_os_type)
       AND lower(c.agent_type) = lower(in_agent_type)
     ORDER BY c.component_id
$$;
-- Records the checksum of the published document; out_status is 1 once the row is stored.
-- A function with an OUT parameter rather than a procedure: psqlODBC (13.02) sends
-- "{call ...}" as "SELECT * FROM name(...)", which a PROCEDURE refuses ("is a procedure").
-- Bind the 7th marker as an output integer: the driver leaves it out of the argument list
-- and fills it from the result column. A failure raises an error (the caller logs it) rather
-- than returning a silent status.
CREATE OR REPLACE FUNCTION USP_MstAgentXmlCheckSum_IU(in_agent_type varchar(50),
                                                      in_os varchar(100),
                                                      in_md5_string varchar(100),
                                                      in_release_date timestamp,
                                                      in_download_url varchar(500),
                                                      in_secondry_url varchar(500),
                                                      OUT out_status integer)
LANGUAGE plpgsql VOLATILE
AS $$
BEGIN
    out_status := 0;
    INSERT INTO mst_agent_xml_checksum
           (agent_type, os, md5_string, release_date, download_url, secondary_url, updated_at)
    VALUES (in_agent_type, in_os, in_md5_string, in_release_date, in_download_url,
            in_secondry_url, localtimestamp)
    ON CONFLICT ((lower(agent_type)), (lower(os))) DO UPDATE
       SET md5_string    = EXCLUDED.md5_string,
           release_date  = EXCLUDED.release_date,
           download_url  = EXCLUDED.download_url,
           secondary_url = EXCLUDED.secondary_url,
           updated_at    = EXCLUDED.updated_at;
    out_status := 1;
END
$$;
