-- Tables behind the two stored procedures of the component list publisher (SQL Server).
-- Load with: sqlcmd -b -S HOST -d DB -i schema.sql
-- Text is nvarchar: the program sends and reads it as UTF-16, so a character outside the
-- database's code page survives. The case-insensitive collation makes agent type and OS match
-- without regard to letter case, in a case-sensitive database too.

-- One row per component of one agent type on one OS type.
CREATE TABLE dbo.mst_agent_component (
    component_id int IDENTITY (1, 1) NOT NULL,
    agent_type nvarchar(10) COLLATE Latin1_General_CI_AS NOT NULL,
    os_type nvarchar(50) COLLATE Latin1_General_CI_AS NOT NULL,
    type nvarchar(50) NULL,
    name nvarchar(255) NULL,
    filepath nvarchar(500) NULL,
    md5_value nvarchar(100) NULL,
    state nvarchar(50) NULL,
    agent_version nvarchar(50) NULL,
    binary_version nvarchar(50) NULL,
    description nvarchar(2000) NULL,
    dependencychk nvarchar(2000) NULL,
    is_reg_required bit NULL,
    CONSTRAINT pk_mst_agent_component PRIMARY KEY (component_id)
);
GO
CREATE INDEX mst_agent_component_pair ON dbo.mst_agent_component (agent_type, os_type);
GO
-- The checksum of the latest published document, one row per agent type and OS.
CREATE TABLE dbo.mst_agent_xml_checksum (
    agent_type nvarchar(50) COLLATE Latin1_General_CI_AS NOT NULL,
    os nvarchar(100) COLLATE Latin1_General_CI_AS NOT NULL,
    md5_string nvarchar(100) NULL,
    release_date datetime NULL,
    download_url nvarchar(500) NULL,
    secondary_url nvarchar(500) NULL,
    updated_at datetime NOT NULL
    CONSTRAINT df_mst_agent_xml_checksum_updated DEFAULT (getdate()),
    CONSTRAINT pk_mst_agent_xml_checksum PRIMARY KEY (agent_type, os)
);
GO
