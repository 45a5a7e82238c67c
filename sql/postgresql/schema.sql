-- Tables behind the two stored procedures of the component list publisher (PostgreSQL).
-- Load with: psql -v ON_ERROR_STOP=1 -d DB -f schema.sql

-- One row per component of one agent type on one OS type.
CREATE TABLE mst_agent_component (
    component_id    integer GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
    agent_type      varchar(10)  NOT NULL,
    os_type         varchar(50)  NOT NULL,
    type            varchar(50),
    name            varchar(255),
    filepath        varchar(500),
    md5_value       varchar(100),
    state           varchar(50),
    agent_version   varchar(50),
    binary_version  varchar(50),
    description     varchar(2000),
    dependencychk   varchar(2000),
    is_reg_required boolean
);
CREATE INDEX mst_agent_component_pair ON mst_agent_component (lower(agent_type), lower(os_type));
-- The checksum of the latest published document, one row per agent type and OS.
CREATE TABLE mst_agent_xml_checksum (
    agent_type     varchar(50)  NOT NULL,
    os             varchar(100) NOT NULL,
    md5_string     varchar(100),
    release_date   timestamp,
    download_url   varchar(500),
    secondary_url  varchar(500),
    updated_at     timestamp    NOT NULL DEFAULT localtimestamp
);
-- Agent type and OS match without regard to letter case, as in the component query.
CREATE UNIQUE INDEX mst_agent_xml_checksum_pair
    ON mst_agent_xml_checksum (lower(agent_type), lower(os));
